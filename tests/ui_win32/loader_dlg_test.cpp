// The Win32 main dialog against the in-memory module: the start look read
// back from the window, the About item, the Settings end codes as the port
// choice, a whole run with its progress dialog, and one message box with
// the exact text and the program's caption for each failure.
#include "sim/memory_port.h"
#include "sim/module_simulator.h"
#include "sim/virtual_clock.h"
#include "ui/cloaderdlg.h"
#include "ui/resource.h"
#include "ui/win32_support.h"

#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "dialog_driver.h"

namespace vexel::test {
namespace {

constexpr COLORREF kGreen = RGB(0, 200, 100);
constexpr COLORREF kRed = RGB(255, 0, 0);
// The caption of every message box: this executable's name.
constexpr const wchar_t* kCaption = L"ui_win32_test";

std::string TempImage(const std::vector<uint8_t>& bytes) {
  wchar_t dir[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, dir);
  const std::string path = Narrow(dir) + "vexel-ui-win32-image.mbf";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return path;
}

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  return bytes;
}

class LoaderDlgTest : public testing::Test {
 protected:
  void SetUp() override {
    auto port = std::make_unique<sim::MemoryPort>(m_module, m_clock);
    m_port = port.get();
    m_dlg = std::make_unique<CLoaderDlg>(std::move(port));
    ASSERT_TRUE(m_dlg->Create());
    m_hWnd = m_dlg->GetSafeHwnd();
  }

  // The module's replies come as the virtual clock moves, which it does
  // on every round of the message loop unless a test holds it.
  bool Pump(const std::function<bool()>& done, DWORD timeoutMs = 15000) {
    return PumpUntil(
        done,
        [this] {
          if (m_clockRuns) m_clock.AdvanceBy(50);
        },
        timeoutMs);
  }
  void Click(int nID) {
    ::PostMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(nID, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(m_hWnd, nID)));
  }
  std::wstring Text(int nID) const { return WindowText(::GetDlgItem(m_hWnd, nID)); }
  bool Enabled(int nID) const { return ::IsWindowEnabled(::GetDlgItem(m_hWnd, nID)) != FALSE; }
  bool StatusIs(const wchar_t* text) const { return Text(IDC_STATUS) == text; }

  // The text colour the dialog gives its status line when it paints.
  COLORREF StatusColour() const {
    const HDC dc = ::CreateCompatibleDC(nullptr);
    ::SendMessageW(m_hWnd, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                   reinterpret_cast<LPARAM>(::GetDlgItem(m_hWnd, IDC_STATUS)));
    const COLORREF colour = ::GetTextColor(dc);
    ::DeleteDC(dc);
    return colour;
  }

  void ExpectNotConnectedLook() {
    EXPECT_EQ(Text(IDC_CONNECT), L"Connect");
    EXPECT_TRUE(Enabled(IDC_CONNECT));
    EXPECT_FALSE(Enabled(IDC_PROGRAM));
    EXPECT_TRUE(Enabled(IDC_SETTINGS));
    EXPECT_EQ(Text(IDC_STATUS), L"NOT CONNECTED");
    EXPECT_EQ(StatusColour(), kRed);
  }

  void Connect() {
    Click(IDC_CONNECT);
    ASSERT_TRUE(Pump([this] { return StatusIs(L"CONNECTED"); }));
  }

  sim::VirtualClock m_clock;
  sim::ModuleSimulator m_module;
  sim::MemoryPort* m_port = nullptr;
  std::unique_ptr<CLoaderDlg> m_dlg;
  HWND m_hWnd = nullptr;
  bool m_clockRuns = true;
};

// ---- Start look ------------------------------------------------------------

TEST_F(LoaderDlgTest, TemplateAndStartLook) {
  EXPECT_EQ(WindowText(m_hWnd), L"Vexel Module Loader");
  EXPECT_TRUE(::IsWindowVisible(m_hWnd));
  EXPECT_TRUE(::GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE) & WS_EX_APPWINDOW);
  RECT size{0, 0, 286, 190};
  ::MapDialogRect(m_hWnd, &size);
  RECT client{};
  ::GetClientRect(m_hWnd, &client);
  EXPECT_EQ(client.right, size.right);
  EXPECT_EQ(client.bottom, size.bottom);

  // Tab order and geometry, in dialog units.
  struct Row {
    int id;
    const wchar_t* text;
    int x, y, cx, cy;
    bool tabStop;
  };
  const Row rows[] = {{IDC_CONNECT, L"Connect", 7, 7, 56, 15, true},
                      {IDC_PROGRAM, L"Program module...", 76, 7, 68, 15, true},
                      {IDC_SETTINGS, L"Settings...", 223, 7, 56, 15, true},
                      {IDC_STATIC, nullptr, 7, 36, 272, 123, false},
                      {IDC_STATUS, L"NOT CONNECTED", 7, 164, 272, 19, false}};
  HWND child = ::GetWindow(m_hWnd, GW_CHILD);
  for (const Row& row : rows) {
    ASSERT_NE(child, nullptr);
    SCOPED_TRACE(row.id);
    EXPECT_EQ(::GetDlgCtrlID(child) & 0xFFFF, row.id & 0xFFFF);
    if (row.text != nullptr) {
      EXPECT_EQ(WindowText(child), row.text);
    }
    const RECT want = DialogUnitsToPixels(m_hWnd, row.x, row.y, row.cx, row.cy);
    const RECT got = ChildRect(m_hWnd, child);
    EXPECT_TRUE(::EqualRect(&want, &got));
    const LONG_PTR style = ::GetWindowLongPtrW(child, GWL_STYLE);
    EXPECT_EQ((style & WS_TABSTOP) != 0, row.tabStop);
    if (row.tabStop) {
      EXPECT_EQ((style & BS_TYPEMASK), BS_PUSHBUTTON) << "no default button";
    }
    child = ::GetWindow(child, GW_HWNDNEXT);
  }
  EXPECT_NE(::SendDlgItemMessageW(m_hWnd, IDC_STATIC, STM_GETIMAGE, IMAGE_BITMAP, 0), 0)
      << "the picture carries IDB_PICTURE";

  ExpectNotConnectedLook();
  EXPECT_EQ(m_dlg->GetPortChoice(), 1);

  LOGFONTW font{};
  ::GetObjectW(reinterpret_cast<HFONT>(::SendDlgItemMessageW(m_hWnd, IDC_STATUS, WM_GETFONT, 0, 0)),
               sizeof font, &font);
  EXPECT_STREQ(font.lfFaceName, L"Arial Black");
  const HDC screen = ::GetDC(nullptr);
  EXPECT_EQ(font.lfHeight, -::MulDiv(180, ::GetDeviceCaps(screen, LOGPIXELSY), 720)) << "18 point";
  ::ReleaseDC(nullptr, screen);
  EXPECT_EQ(::SendMessageW(m_hWnd, WM_GETICON, ICON_BIG, 0),
            reinterpret_cast<LRESULT>(
                ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME))));
}

// As the program runs it: modal, unowned, centred in the work area of the
// screen, and ended by Escape.
TEST_F(LoaderDlgTest, RunModallyOpensCentredInTheWorkAreaAndEndsWithEscape) {
  sim::ModuleSimulator module;
  CLoaderDlg dlg(std::make_unique<sim::MemoryPort>(module, m_clock));
  RECT rect{};
  DialogAnswerer answerer([&rect](HWND main) {
    ::GetWindowRect(main, &rect);
    PressEscape(main);
  });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  ASSERT_EQ(answerer.Seen().size(), 1u);
  EXPECT_EQ(answerer.Seen()[0].caption, L"Vexel Module Loader");
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  ASSERT_TRUE(::GetMonitorInfoW(::MonitorFromRect(&rect, MONITOR_DEFAULTTONEAREST), &monitor));
  const RECT& work = monitor.rcWork;
  EXPECT_LE(std::abs((rect.left + rect.right) - (work.left + work.right)), 1) << "centred across";
  EXPECT_LE(std::abs((rect.top + rect.bottom) - (work.top + work.bottom)), 1) << "centred down";
}

TEST_F(LoaderDlgTest, SystemMenuEndsWithSeparatorAndAboutItem) {
  const HMENU menu = ::GetSystemMenu(m_hWnd, FALSE);
  const int count = ::GetMenuItemCount(menu);
  ASSERT_GE(count, 2);
  EXPECT_EQ(::GetMenuState(menu, static_cast<UINT>(count - 2), MF_BYPOSITION) & MF_SEPARATOR,
            static_cast<UINT>(MF_SEPARATOR));
  EXPECT_EQ(::GetMenuItemID(menu, count - 1), static_cast<UINT>(IDM_ABOUTBOX));
  wchar_t text[64] = {};
  ::GetMenuStringW(menu, static_cast<UINT>(count - 1), text, 64, MF_BYPOSITION);
  EXPECT_STREQ(text, L"&About duvozeviv...");

  DialogAnswerer answerer([](HWND about) { PressOk(about); });
  ::PostMessageW(m_hWnd, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
  ASSERT_TRUE(Pump([&] { return !answerer.Seen().empty(); }));
  EXPECT_EQ(answerer.Seen()[0].caption, L"About Vexel Loader");
}

// F1 typed on the keyboard reaches the dialog through the input queue, where
// the system turns it into WM_HELP.
TEST_F(LoaderDlgTest, F1OpensTheAboutBox) {
  DialogAnswerer answerer([](HWND about) { PressEscape(about); });
  ::SetForegroundWindow(m_hWnd);
  ::SetFocus(::GetDlgItem(m_hWnd, IDC_CONNECT));
  INPUT keys[2] = {};
  keys[0].type = INPUT_KEYBOARD;
  keys[0].ki.wVk = VK_F1;
  keys[1] = keys[0];
  keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
  ASSERT_EQ(::SendInput(2, keys, sizeof(INPUT)), 2u);
  ASSERT_TRUE(Pump([&] { return !answerer.Seen().empty(); }));
  EXPECT_EQ(answerer.Seen()[0].caption, L"About Vexel Loader");
  EXPECT_TRUE(::IsWindowVisible(m_hWnd));
}

// A right click opens the same menu as on Linux, a stand-in for the window
// menu, where the click was; its items are handled as the window menu's.
TEST_F(LoaderDlgTest, RightClickOpensTheContextMenu) {
  struct Case {
    wchar_t mnemonic;
    const wchar_t* dialogSeen;
    bool visibleAfter;
  };
  for (const Case& c : {Case{L'a', L"About Vexel Loader", true}, Case{L'c', nullptr, false}}) {
    SCOPED_TRACE(static_cast<char>(c.mnemonic));
    ::ShowWindow(m_hWnd, SW_SHOW);
    std::vector<std::wstring> items;
    RECT menuRect{};
    DialogAnswerer menus(
        [&](HWND menu) {
          ::GetWindowRect(menu, &menuRect);
          const auto hMenu = reinterpret_cast<HMENU>(::SendMessageW(menu, MN_GETHMENU, 0, 0));
          for (UINT i = 0; i < static_cast<UINT>(::GetMenuItemCount(hMenu)); ++i) {
            wchar_t text[64] = {};
            ::GetMenuStringW(hMenu, i, text, 64, MF_BYPOSITION);
            const bool separator = (::GetMenuState(hMenu, i, MF_BYPOSITION) & MF_SEPARATOR) != 0;
            items.push_back(separator ? L"-" : text);
          }
          ::PostMessageW(menu, WM_CHAR, c.mnemonic, 0);
        },
        L"#32768");
    DialogAnswerer dialogs([](HWND dialog) { PressEscape(dialog); });
    const RECT picture = ChildRect(m_hWnd, ::GetDlgItem(m_hWnd, IDC_STATIC));
    POINT click{(picture.left + picture.right) / 2, (picture.top + picture.bottom) / 2};
    ::PostMessageW(m_hWnd, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(click.x, click.y));
    ::PostMessageW(m_hWnd, WM_RBUTTONUP, 0, MAKELPARAM(click.x, click.y));
    ASSERT_TRUE(Pump([&] {
      return c.dialogSeen != nullptr ? !dialogs.Seen().empty() : !::IsWindowVisible(m_hWnd);
    }));
    EXPECT_EQ(items, (std::vector<std::wstring>{L"&Close\tAlt+F4", L"-", L"&About duvozeviv..."}));
    ::ClientToScreen(m_hWnd, &click);
    EXPECT_EQ(menuRect.left, click.x);
    EXPECT_EQ(menuRect.top, click.y);
    if (c.dialogSeen != nullptr) {
      ASSERT_EQ(dialogs.Seen().size(), 1u);
      EXPECT_EQ(dialogs.Seen()[0].caption, c.dialogSeen);
    }
    EXPECT_EQ(::IsWindowVisible(m_hWnd) != FALSE, c.visibleAfter);
  }
}

// ---- Port choice -------------------------------------------------------------

TEST_F(LoaderDlgTest, SettingsChoiceDecidesTheNextConnect) {
  struct Step {
    int click;
    bool ok;
    const char* port;
  };
  // COM2 with OK, then Escape keeps COM2, then COM1 with OK, then the close
  // box with COM2 clicked keeps COM1.
  for (const Step& step : {Step{IDC_COM2, true, "COM2"}, Step{0, false, "COM2"},
                           Step{IDC_COM1, true, "COM1"}, Step{IDC_COM2, false, "COM1"}}) {
    DialogAnswerer answerer([&](HWND dialog) {
      if (step.click != 0) ClickItem(dialog, step.click);
      step.ok ? PressOk(dialog) : PressEscape(dialog);
    });
    Click(IDC_SETTINGS);
    ASSERT_TRUE(Pump([&] { return !answerer.Seen().empty() && ::IsWindowEnabled(m_hWnd); }));
    Click(IDC_CONNECT);
    ASSERT_TRUE(Pump([this] { return StatusIs(L"CONNECTED"); }));
    EXPECT_EQ(m_port->OpenedName(), step.port);
    EXPECT_FALSE(Enabled(IDC_SETTINGS)) << "the port cannot change under an open line";
    Click(IDC_CONNECT);
    ASSERT_TRUE(Pump([this] { return StatusIs(L"NOT CONNECTED"); }));
  }
}

// ---- Connect and runs --------------------------------------------------------

TEST_F(LoaderDlgTest, ConnectShowsTheConnectedLookWhenTheWindowEnds) {
  const ULONGLONG start = ::GetTickCount64();
  Connect();
  EXPECT_GE(::GetTickCount64() - start, 990u) << "the probe window runs its full second";
  EXPECT_EQ(Text(IDC_CONNECT), L"Disconnect");
  EXPECT_TRUE(Enabled(IDC_CONNECT));
  EXPECT_TRUE(Enabled(IDC_PROGRAM));
  EXPECT_FALSE(Enabled(IDC_SETTINGS));
  EXPECT_EQ(StatusColour(), kGreen);
  EXPECT_EQ(m_port->BaudRate(), 57600u);
  EXPECT_EQ(m_port->Parity(), kParityEven);
  EXPECT_EQ(m_port->StopBits(), kTwoStopBits);

  Click(IDC_CONNECT);
  ASSERT_TRUE(Pump([this] { return StatusIs(L"NOT CONNECTED"); }));
  ExpectNotConnectedLook();
  EXPECT_FALSE(m_port->IsOpen());
}

// The progress dialog opens over the main dialog's client origin with the
// image length as its range and moves to 64, 128 and 192 before the second,
// third and fourth chunk; "MODULE LOADED" closes it.
TEST_F(LoaderDlgTest, RunShowsProgressThenModuleLoaded) {
  Connect();
  const std::vector<uint8_t> image = Pattern(200);
  const std::string path = TempImage(image);
  m_dlg->SetFileChooser([&](HWND, std::string& chosen) {
    chosen = path;
    return true;
  });
  m_clockRuns = false;  // one reply at a time
  Click(IDC_PROGRAM);
  ASSERT_TRUE(Pump([this] { return m_dlg->Progress() != nullptr; }));
  const HWND progress = m_dlg->Progress()->GetSafeHwnd();
  const HWND bar = ::GetDlgItem(progress, IDC_PROGRESS);
  EXPECT_EQ(::SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 200);
  POINT origin{0, 0};
  ::ClientToScreen(m_hWnd, &origin);
  RECT rect{};
  ::GetWindowRect(progress, &rect);
  EXPECT_EQ(rect.left, origin.x);
  EXPECT_EQ(rect.top, origin.y);

  std::vector<LRESULT> positions;
  for (size_t request = m_module.RequestCount(); request < 7; ++request) {
    ASSERT_TRUE(m_clock.RunNext());  // the reply to the latest request
    ASSERT_TRUE(Pump([&] { return m_module.RequestCount() > request; }));
    if (m_dlg->Progress() != nullptr) positions.push_back(::SendMessageW(bar, PBM_GETPOS, 0, 0));
  }
  EXPECT_EQ(positions, (std::vector<LRESULT>{0, 64, 128, 192, 192}));
  EXPECT_TRUE(StatusIs(L"PROGRAMMING"));
  m_clockRuns = true;
  ASSERT_TRUE(Pump([this] { return StatusIs(L"MODULE LOADED"); }));
  EXPECT_EQ(m_dlg->Progress(), nullptr);
  EXPECT_FALSE(::IsWindow(progress));
  EXPECT_EQ(StatusColour(), kGreen);
  ASSERT_EQ(m_module.FlashedImages().size(), 1u);
  EXPECT_EQ(m_module.FlashedImages()[0], image);
}

TEST_F(LoaderDlgTest, CancellingTheFileChooserChangesNothing) {
  Connect();
  const size_t writes = m_port->Writes().size();
  bool asked = false;
  m_dlg->SetFileChooser([&](HWND, std::string&) { return asked = true, false; });
  Click(IDC_PROGRAM);
  ASSERT_TRUE(Pump([&] { return asked; }));
  EXPECT_EQ(m_port->Writes().size(), writes);
  EXPECT_EQ(m_dlg->Progress(), nullptr);
  EXPECT_TRUE(StatusIs(L"CONNECTED"));
}

// The line drops while the file chooser is open (here the run under way ends
// on a wrong reply): the file chosen afterwards is not sent, and the user is
// told so in the same box as on Linux instead of seeing nothing happen.
TEST_F(LoaderDlgTest, FileChosenAfterTheLineDroppedIsReported) {
  sim::Fault fault;
  std::string error;
  ASSERT_TRUE(sim::ParseFault("wrong@2", fault, error)) << error;
  m_module.AddFault(fault);
  DialogAnswerer answerer([](HWND box) { PressOk(box); });
  Connect();
  const std::string first = TempImage(Pattern(200));
  m_dlg->SetFileChooser([&](HWND, std::string& chosen) {
    chosen = first;
    return true;
  });
  Click(IDC_PROGRAM);
  ASSERT_TRUE(Pump([this] { return m_dlg->Progress() != nullptr; }));
  EXPECT_TRUE(Enabled(IDC_PROGRAM)) << "a run leaves Program module... enabled";

  const std::string second = "C:\\images\\zweite \xC3\xBC %s.mbf";
  size_t writes = 0;
  m_dlg->SetFileChooser([&](HWND, std::string& chosen) {
    EXPECT_TRUE(Pump([this] { return StatusIs(L"NOT CONNECTED"); }));  // the chooser's loop
    writes = m_port->Writes().size();
    chosen = second;
    return true;
  });
  Click(IDC_PROGRAM);
  ASSERT_TRUE(Pump([&] { return answerer.Seen().size() >= 2; }));
  Pump([] { return false; }, 300);  // anything else would come right after
  ASSERT_EQ(answerer.Seen().size(), 2u);
  EXPECT_EQ(answerer.Seen()[0].text, L"Invalid response from module for SEND");
  EXPECT_EQ(answerer.Seen()[1].caption, kCaption);
  EXPECT_EQ(answerer.Seen()[1].text,
            L"Not connected: C:\\images\\zweite \u00FC %s.mbf was not sent");
  EXPECT_EQ(answerer.Seen()[1].buttons, 1);
  ExpectNotConnectedLook();
  EXPECT_EQ(m_dlg->Progress(), nullptr);
  EXPECT_EQ(m_port->Writes().size(), writes) << "nothing of the second file went out";
  EXPECT_FALSE(m_port->IsOpen());
}

// ---- Failures --------------------------------------------------------------------

struct FailureCase {
  const char* name;
  const char* fault;     ///< module fault spec, or null
  int32_t openResult;    ///< the port's Open result
  int32_t formatResult;  ///< the port's SetLineFormat result
  bool run;              ///< connect, then program an image
  bool missingFile;      ///< the run names a file that does not exist
  const wchar_t* text;
  bool connectedAfter;
};

class LoaderFailure : public LoaderDlgTest, public testing::WithParamInterface<FailureCase> {};

TEST_P(LoaderFailure, OneMessageBoxWithTheProgramsCaption) {
  const FailureCase& c = GetParam();
  if (c.fault != nullptr) {
    sim::Fault fault;
    std::string error;
    ASSERT_TRUE(sim::ParseFault(c.fault, fault, error)) << error;
    m_module.AddFault(fault);
  }
  m_port->SetOpenResult(c.openResult);
  m_port->SetLineFormatResult(c.formatResult);
  DialogAnswerer answerer([](HWND box) { PressOk(box); });
  std::wstring expected = c.text;
  if (c.run) {
    Connect();
    const std::string path = c.missingFile ? TempImage({}) + ".missing" : TempImage(Pattern(100));
    if (c.missingFile) expected += Widen(path);
    m_dlg->SetFileChooser([path](HWND, std::string& chosen) {
      chosen = path;
      return true;
    });
    Click(IDC_PROGRAM);
  } else {
    Click(IDC_CONNECT);
  }
  ASSERT_TRUE(Pump([&] { return !answerer.Seen().empty(); }));
  // Anything else the failure might show comes right after the first box.
  Pump([] { return false; }, 300);
  ASSERT_EQ(answerer.Seen().size(), 1u);
  EXPECT_EQ(answerer.Seen()[0].caption, kCaption);
  EXPECT_EQ(answerer.Seen()[0].text, expected);
  EXPECT_EQ(answerer.Seen()[0].buttons, 1);
  if (c.connectedAfter) {
    EXPECT_TRUE(StatusIs(L"CONNECTED"));
  } else {
    ExpectNotConnectedLook();
    EXPECT_FALSE(m_port->IsOpen());
  }
}

// An adapter pulled mid-run: one message box with its own text at once, not
// a reply timer's "Module not responding" seconds later, and the dialog back
// to NOT CONNECTED with the port closed.
TEST_F(LoaderDlgTest, LineLostShowsOneBoxAtOnceAndReturnsToNotConnected) {
  sim::Fault fault;
  std::string error;
  ASSERT_TRUE(sim::ParseFault("hangup@3", fault, error)) << error;
  m_module.AddFault(fault);
  DialogAnswerer answerer([](HWND box) { PressOk(box); });
  Connect();
  const std::string path = TempImage(Pattern(100));
  m_dlg->SetFileChooser([path](HWND, std::string& chosen) {
    chosen = path;
    return true;
  });
  const uint64_t started = m_clock.Now();
  Click(IDC_PROGRAM);
  ASSERT_TRUE(Pump([&] { return !answerer.Seen().empty(); }));
  EXPECT_LT(m_clock.Now() - started, 1000u) << "virtual ms to the box: a reply timer ran out";
  Pump([] { return false; }, 300);
  ASSERT_EQ(answerer.Seen().size(), 1u);
  EXPECT_EQ(answerer.Seen()[0].caption, kCaption);
  EXPECT_EQ(answerer.Seen()[0].text,
            L"Connection lost: the serial port went away (adapter unplugged or driver stopped)");
  EXPECT_EQ(answerer.Seen()[0].buttons, 1);
  ExpectNotConnectedLook();
  EXPECT_FALSE(m_port->IsOpen());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LoaderFailure,
    testing::Values(FailureCase{"PortOpen", nullptr, kErrorFileNotFound, kResultOk, false, false,
                                L"Cannot open open COM1", false},
                    FailureCase{"LineFormat", nullptr, kResultOk, kErrorInvalidParameter, false,
                                false, L"Cannot switch to 57600, E, 8 2", false},
                    FailureCase{"NoConnectReply", "noreply@0", kResultOk, kResultOk, false, false,
                                L"Unable to connect to module", false},
                    FailureCase{"InitNotAnswered", "noreply@1", kResultOk, kResultOk, true, false,
                                L"Module not responding", false},
                    FailureCase{"WrongInitReply", "wrong@1", kResultOk, kResultOk, true, false,
                                L"Invalid response from module for INIT", false},
                    FailureCase{"WrongSendReply", "wrong@2", kResultOk, kResultOk, true, false,
                                L"Invalid response from module for SEND", false},
                    FailureCase{"WrongSendLastReply", "wrong@3", kResultOk, kResultOk, true, false,
                                L"Invalid response from module for SENDLAST", false},
                    FailureCase{"WrongFlashReply", "wrong@4", kResultOk, kResultOk, true, false,
                                L"Invalid response from module for FLASH", false},
                    FailureCase{"MissingImageFile", nullptr, kResultOk, kResultOk, true, true,
                                L"Unable to open file ", true}),
    [](const testing::TestParamInfo<FailureCase>& param) { return param.param.name; });

}  // namespace
}  // namespace vexel::test

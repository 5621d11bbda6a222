// The Win32 Settings, progress and About dialogs and the resources: template
// contents as the platform built them, end codes, the progress range and
// position rules, the About texts and the version record.
#include <windows.h>

#include <commctrl.h>
#include <uxtheme.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dialog_driver.h"
#include "ui/caboutdlg.h"
#include "ui/cprogressdlg.h"
#include "ui/csettingsdlg.h"
#include "ui/resource.h"

namespace vexel::test {
namespace {

// ---- Templates -----------------------------------------------------------

/// One control as the template states it.
struct ExpectedControl {
  int id;
  const wchar_t* className;
  const wchar_t* text;
  int x, y, cx, cy;  ///< dialog units
  DWORD type;        ///< BS_ or SS_ type, or 0 for the progress bar
  DWORD flags;       ///< of WS_TABSTOP, WS_GROUP, WS_BORDER, SS_NOPREFIX, SS_CENTERIMAGE
};

constexpr DWORD kFlagMask = WS_TABSTOP | WS_GROUP | WS_BORDER | SS_NOPREFIX | SS_CENTERIMAGE;

struct ExpectedDialog {
  const wchar_t* caption;
  int cx, cy;
  bool systemMenu;
  std::vector<ExpectedControl> controls;
};

DWORD TypeOf(HWND control, const std::wstring& className) {
  const DWORD style = static_cast<DWORD>(::GetWindowLongPtrW(control, GWL_STYLE));
  if (className == L"Button") return style & BS_TYPEMASK;
  if (className == L"Static") return style & SS_TYPEMASK;
  return 0;
}

// Compares the children of @p dialog, in creation (tab) order, with the
// expectation: ids, classes, texts, rectangles in dialog units and styles.
void ExpectTemplate(HWND dialog, const ExpectedDialog& expected) {
  EXPECT_EQ(WindowText(dialog), expected.caption);
  RECT size{0, 0, expected.cx, expected.cy};
  ::MapDialogRect(dialog, &size);
  RECT client{};
  ::GetClientRect(dialog, &client);
  EXPECT_EQ(client.right, size.right) << "client width";
  EXPECT_EQ(client.bottom, size.bottom) << "client height";
  const LONG_PTR style = ::GetWindowLongPtrW(dialog, GWL_STYLE);
  EXPECT_EQ((style & WS_SYSMENU) != 0, expected.systemMenu);
  EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME), 0);

  LOGFONTW font{};
  ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(dialog, WM_GETFONT, 0, 0)), sizeof font,
               &font);
  EXPECT_STREQ(font.lfFaceName, L"MS Sans Serif");

  HWND child = ::GetWindow(dialog, GW_CHILD);
  for (const ExpectedControl& control : expected.controls) {
    ASSERT_NE(child, nullptr) << "missing control " << control.id;
    SCOPED_TRACE(testing::Message() << "control " << control.id);
    EXPECT_EQ(::GetDlgCtrlID(child) & 0xFFFF, control.id & 0xFFFF);
    wchar_t className[64] = {};
    ::GetClassNameW(child, className, 64);
    EXPECT_STREQ(className, control.className);
    if (std::wstring(className) != L"Static" || control.type != SS_BITMAP) {
      EXPECT_EQ(WindowText(child), control.text);
    }
    const RECT want = DialogUnitsToPixels(dialog, control.x, control.y, control.cx, control.cy);
    const RECT got = ChildRect(dialog, child);
    EXPECT_TRUE(::EqualRect(&want, &got));
    EXPECT_EQ(TypeOf(child, className), control.type);
    // The platform moves the tab stop to the checked radio button, and the
    // progress bar draws its border itself (the style bit is consumed).
    DWORD mask = kFlagMask;
    if (control.type == BS_AUTORADIOBUTTON) mask &= ~static_cast<DWORD>(WS_TABSTOP);
    if (std::wstring(className) == PROGRESS_CLASSW) mask &= ~static_cast<DWORD>(WS_BORDER);
    const DWORD childStyle = static_cast<DWORD>(::GetWindowLongPtrW(child, GWL_STYLE));
    EXPECT_EQ(childStyle & mask, control.flags & mask) << std::hex << childStyle;
    EXPECT_TRUE(childStyle & WS_VISIBLE);
    child = ::GetWindow(child, GW_HWNDNEXT);
  }
  EXPECT_EQ(child, nullptr) << "more controls than the template states";
}

TEST(SettingsDlg, TemplateContents) {
  CSettingsDlg dlg(1, nullptr);
  ASSERT_TRUE(dlg.Create());
  EXPECT_FALSE(::IsWindowVisible(dlg.GetSafeHwnd())) << "hidden until DoModal shows it";
  ExpectTemplate(dlg.GetSafeHwnd(),
                 {L"Settings",
                  131,
                  94,
                  true,
                  {{IDOK, L"Button", L"OK", 40, 73, 50, 14, BS_DEFPUSHBUTTON, WS_TABSTOP},
                   {IDC_STATIC, L"Button", L"Port", 7, 7, 117, 46, BS_GROUPBOX, WS_GROUP},
                   {IDC_COM1, L"Button", L"COM&1", 26, 24, 37, 15, BS_AUTORADIOBUTTON, 0},
                   {IDC_COM2, L"Button", L"COM&2", 73, 24, 36, 15, BS_AUTORADIOBUTTON, 0}}});
}

TEST(ProgressDlg, TemplateContents) {
  CProgressDlg dlg(10, nullptr);
  ASSERT_NE(dlg.GetSafeHwnd(), nullptr);
  EXPECT_TRUE(::IsWindowVisible(dlg.GetSafeHwnd())) << "shown when constructed";
  ExpectTemplate(dlg.GetSafeHwnd(),
                 {L"Programming progress",
                  186,
                  62,
                  false,
                  {{IDC_PROGRESS, PROGRESS_CLASSW, L"Progress1", 7, 22, 172, 15, 0, WS_BORDER}}});
  const LONG_PTR barStyle = ::GetWindowLongPtrW(dlg.GetDlgItem(IDC_PROGRESS), GWL_STYLE);
  EXPECT_EQ(barStyle & (PBS_SMOOTH | PBS_VERTICAL), 0) << "segmented and horizontal";
  EXPECT_EQ(VisibleButtons(dlg.GetSafeHwnd()), 0) << "nothing that closes it";
}

// How many separate runs of the highlight colour the bar paints along its
// middle row.
int BlocksDrawn(HWND bar) {
  RECT client{};
  ::GetClientRect(bar, &client);
  const HDC screen = ::GetDC(bar);
  const HDC dc = ::CreateCompatibleDC(screen);
  const HBITMAP bitmap = ::CreateCompatibleBitmap(screen, client.right, client.bottom);
  const HGDIOBJ old = ::SelectObject(dc, bitmap);
  ::SendMessageW(bar, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT | PRF_ERASEBKGND);
  const COLORREF fill = ::GetSysColor(COLOR_HIGHLIGHT);
  int blocks = 0;
  bool inBlock = false;
  for (int x = 0; x < client.right; ++x) {
    const bool filled = ::GetPixel(dc, x, client.bottom / 2) == fill;
    if (filled && !inBlock) ++blocks;
    inBlock = filled;
  }
  ::SelectObject(dc, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(dc);
  ::ReleaseDC(bar, screen);
  return blocks;
}

// Visual styles draw every progress bar continuous, whatever its style: the
// bar goes without them, so it shows blocks under a theme too (half full,
// Wine's classic bar paints 9). Wine applies a theme of its own, so the test
// runs there; with no theme active there is nothing to turn off.
TEST(ProgressDlg, BarIsDrawnInBlocksUnderATheme) {
  if (!::IsThemeActive()) GTEST_SKIP() << "no visual style is active";
  CProgressDlg dlg(10, nullptr);
  const HWND bar = dlg.GetDlgItem(IDC_PROGRESS);
  EXPECT_EQ(::GetWindowTheme(bar), nullptr);
  dlg.SetPos(5);
  EXPECT_GE(BlocksDrawn(bar), 3);
}

TEST(AboutDlg, TemplateContents) {
  CAboutDlg dlg(nullptr);
  ASSERT_TRUE(dlg.Create());
  ExpectTemplate(
      dlg.GetSafeHwnd(),
      {L"About Vexel Loader",
       235,
       55,
       true,
       {{IDC_STATIC, L"Static", L"Vexel Loader Version 1.0", 40, 10, 119, 8, SS_LEFT,
         WS_GROUP | SS_NOPREFIX},
        {IDC_STATIC, L"Static", L"Copyright (C) 2026 Vexel", 40, 25, 134, 8, SS_LEFT, WS_GROUP},
        {IDOK, L"Button", L"OK", 178, 7, 50, 14, BS_DEFPUSHBUTTON, WS_TABSTOP | WS_GROUP}}});
}

// ---- Settings end codes ----------------------------------------------------

enum class Ending { Ok, Escape, CloseBox };

struct SettingsCase {
  const char* name;
  int start;
  int click;  ///< IDC_COM1, IDC_COM2 or 0
  Ending ending;
  int expectedChecked;  ///< the radio button checked when it opens
  INT_PTR expected;
};

class SettingsEnd : public testing::TestWithParam<SettingsCase> {};

TEST_P(SettingsEnd, ReturnsTheChoiceOrKeepsTheEarlierOne) {
  const SettingsCase& c = GetParam();
  int checked = 0;
  int focus = 0;
  DialogAnswerer answerer([&](HWND dialog) {
    for (int id : {IDC_COM1, IDC_COM2}) {
      if (::IsDlgButtonChecked(dialog, id) == BST_CHECKED) checked = checked != 0 ? -1 : id;
    }
    focus = ::GetDlgCtrlID(::GetFocus());
    if (c.click != 0) ClickItem(dialog, c.click);
    switch (c.ending) {
      case Ending::Ok: PressOk(dialog); break;
      case Ending::Escape: PressEscape(dialog); break;
      case Ending::CloseBox: PressCloseBox(dialog); break;
    }
  });
  CSettingsDlg dlg(c.start, nullptr);
  EXPECT_EQ(dlg.DoModal(), c.expected);
  ASSERT_EQ(answerer.Seen().size(), 1u);
  EXPECT_EQ(answerer.Seen()[0].caption, L"Settings");
  EXPECT_EQ(checked, c.expectedChecked) << "exactly one radio button checked";
  EXPECT_EQ(focus, IDOK) << "OK, the only tab stop, has the focus";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SettingsEnd,
    testing::Values(SettingsCase{"Ok1", 1, 0, Ending::Ok, IDC_COM1, 1},
                    SettingsCase{"Ok2", 2, 0, Ending::Ok, IDC_COM2, 2},
                    SettingsCase{"OkOtherValueKept", 7, 0, Ending::Ok, IDC_COM1, 7},
                    SettingsCase{"Com2ThenOk", 1, IDC_COM2, Ending::Ok, IDC_COM1, 2},
                    SettingsCase{"Com1ThenOk", 2, IDC_COM1, Ending::Ok, IDC_COM2, 1},
                    SettingsCase{"EscapeKeeps1", 1, IDC_COM2, Ending::Escape, IDC_COM1, 1},
                    SettingsCase{"EscapeKeeps2", 2, IDC_COM1, Ending::Escape, IDC_COM2, 2},
                    SettingsCase{"CloseBoxKeeps1", 1, IDC_COM2, Ending::CloseBox, IDC_COM1, 1}),
    [](const testing::TestParamInfo<SettingsCase>& param) { return param.param.name; });

// ---- Progress ----------------------------------------------------------------

int BarHigh(const CProgressDlg& dlg) {
  return static_cast<int>(::SendMessageW(dlg.GetDlgItem(IDC_PROGRESS), PBM_GETRANGE, FALSE, 0));
}
int BarLow(const CProgressDlg& dlg) {
  return static_cast<int>(::SendMessageW(dlg.GetDlgItem(IDC_PROGRESS), PBM_GETRANGE, TRUE, 0));
}
int BarPos(const CProgressDlg& dlg) {
  return static_cast<int>(::SendMessageW(dlg.GetDlgItem(IDC_PROGRESS), PBM_GETPOS, 0, 0));
}

TEST(ProgressDlg, RangeAndPositions) {
  struct Case {
    int range;
    std::vector<std::pair<int, int>> moves;  // position set, previous returned
  };
  for (const Case& c : {Case{1000, {{500, 0}, {1000, 500}}},
                        Case{200000, {{65536, 0}, {199999, 65536}}},  // beyond 16 bits
                        Case{0, {}}}) {                               // an empty image
    SCOPED_TRACE(c.range);
    CProgressDlg dlg(c.range, nullptr);
    EXPECT_EQ(BarLow(dlg), 0);
    EXPECT_EQ(BarHigh(dlg), c.range);
    EXPECT_EQ(BarPos(dlg), 0) << "an empty bar";
    for (const auto& [position, previous] : c.moves) {
      EXPECT_EQ(dlg.SetPos(position), previous);
      EXPECT_EQ(BarPos(dlg), position);
    }
  }
}

TEST(ProgressDlg, OpensOverTheOwnersClientOrigin) {
  CAboutDlg owner(nullptr);
  ASSERT_TRUE(owner.Create());
  ::SetWindowPos(owner.GetSafeHwnd(), nullptr, 150, 120, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  ::ShowWindow(owner.GetSafeHwnd(), SW_SHOW);
  CProgressDlg dlg(100, owner.GetSafeHwnd());
  POINT origin{0, 0};
  ::ClientToScreen(owner.GetSafeHwnd(), &origin);
  RECT rect{};
  ::GetWindowRect(dlg.GetSafeHwnd(), &rect);
  EXPECT_EQ(rect.left, origin.x);
  EXPECT_EQ(rect.top, origin.y);
  EXPECT_EQ(::GetWindow(dlg.GetSafeHwnd(), GW_OWNER), owner.GetSafeHwnd());
  EXPECT_TRUE(::IsWindowEnabled(owner.GetSafeHwnd())) << "modeless: the owner stays usable";
}

TEST(ProgressDlg, EnterAndEscapeOnlyHideIt) {
  for (WPARAM key : {VK_RETURN, VK_ESCAPE}) {
    CProgressDlg dlg(100, nullptr);
    dlg.SetPos(40);
    ::SetForegroundWindow(dlg.GetSafeHwnd());
    ::SetFocus(dlg.GetSafeHwnd());
    ::PostMessageW(dlg.GetSafeHwnd(), WM_KEYDOWN, key, 0x00010001);
    EXPECT_TRUE(PumpUntil([&] { return !::IsWindowVisible(dlg.GetSafeHwnd()); }, {}, 5000));
    EXPECT_TRUE(::IsWindow(dlg.GetSafeHwnd())) << "hidden, not destroyed";
    EXPECT_EQ(dlg.SetPos(60), 40) << "the hidden bar goes on moving";
  }
}

TEST(ProgressDlg, DeletingTheObjectRemovesTheWindow) {
  HWND window = nullptr;
  {
    CProgressDlg dlg(100, nullptr);
    window = dlg.GetSafeHwnd();
    ASSERT_TRUE(::IsWindow(window));
  }
  EXPECT_FALSE(::IsWindow(window));
}

// ---- About ---------------------------------------------------------------------

TEST(AboutDlg, EndsWithOkEscapeOrCloseBox) {
  for (Ending ending : {Ending::Ok, Ending::Escape, Ending::CloseBox}) {
    DialogAnswerer answerer([ending](HWND dialog) {
      if (ending == Ending::Ok) PressOk(dialog);
      if (ending == Ending::Escape) PressEscape(dialog);
      if (ending == Ending::CloseBox) PressCloseBox(dialog);
    });
    CAboutDlg dlg(nullptr);
    const INT_PTR result = dlg.DoModal();
    EXPECT_EQ(result, ending == Ending::Ok ? IDOK : IDCANCEL);
    ASSERT_EQ(answerer.Seen().size(), 1u);
    EXPECT_EQ(answerer.Seen()[0].caption, L"About Vexel Loader");
    EXPECT_EQ(answerer.Seen()[0].buttons, 1);
  }
}

// ---- Resources -------------------------------------------------------------------

std::wstring VersionString(const std::vector<BYTE>& info, const wchar_t* key) {
  const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + key;
  wchar_t* value = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(info.data(), path.c_str(), reinterpret_cast<void**>(&value), &length)) {
    return L"<missing>";
  }
  return std::wstring(value, length > 0 ? length - 1 : 0);
}

TEST(Resources, VersionRecord) {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  DWORD handle = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path, &handle);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> info(size);
  ASSERT_TRUE(::GetFileVersionInfoW(path, 0, size, info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
  EXPECT_EQ(fixed->dwFileFlagsMask, 0x3Fu);
  EXPECT_EQ(fixed->dwFileFlags, 0u);
  EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
  const std::pair<const wchar_t*, const wchar_t*> strings[] = {
      {L"Comments", L""},
      {L"CompanyName", L""},
      {L"FileDescription", L"Vexel Module Loader"},
      {L"FileVersion", L"1, 0, 0, 1"},
      {L"InternalName", L"duvozeviv"},
      {L"LegalCopyright", L"Copyright (C) 2026 Vexel"},
      {L"OriginalFilename", L"duvozeviv.EXE"},
      {L"ProductName", L"vexel Module Developer Kit"},
      {L"ProductVersion", L"1, 0, 0, 1"},
  };
  for (const auto& [key, value] : strings) {
    EXPECT_EQ(VersionString(info, key), value) << key;
  }
}

TEST(Resources, StringIconPictureAndManifest) {
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  wchar_t text[64] = {};
  EXPECT_EQ(::LoadStringW(instance, IDS_ABOUTBOX, text, 64), 19);
  EXPECT_STREQ(text, L"&About duvozeviv...");
  EXPECT_NE(::LoadIconW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME)), nullptr);
  for (int size : {16, 32}) {
    EXPECT_NE(::LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, size, size, 0),
              nullptr)
        << size;
  }
  const auto picture = static_cast<HBITMAP>(::LoadImageW(instance, MAKEINTRESOURCEW(IDB_PICTURE),
                                                         IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  ASSERT_NE(picture, nullptr);
  DIBSECTION dib{};
  ASSERT_EQ(::GetObjectW(picture, sizeof dib, &dib), static_cast<int>(sizeof dib));
  EXPECT_EQ(dib.dsBm.bmWidth, 300);
  EXPECT_EQ(dib.dsBm.bmHeight, 200);
  EXPECT_EQ(dib.dsBmih.biBitCount, 8);
  EXPECT_EQ(dib.dsBmih.biCompression, static_cast<DWORD>(BI_RGB));
  ::DeleteObject(picture);
  EXPECT_NE(::FindResourceW(instance, MAKEINTRESOURCEW(1), RT_MANIFEST), nullptr);
}

// The templates are resources: the main one in the extended form (version 1,
// signature 0xFFFF), the others in the plain one, each with the table's
// styles, size and number of controls. What the controls are is checked by
// the TemplateContents tests, which create the dialogs from these resources.
TEST(Resources, DialogTemplates) {
  struct Case {
    const DialogTemplate& tmpl;
    bool extended;
    DWORD style;
    DWORD exStyle;
  };
  constexpr DWORD kFrame = DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION;
  const Case cases[] = {
      {kAboutTemplate, false, kFrame | WS_SYSMENU, 0},
      {kMainTemplate, true, kFrame | WS_SYSMENU | WS_VISIBLE, WS_EX_APPWINDOW},
      {kSettingsTemplate, false, kFrame | WS_SYSMENU, 0},
      {kProgressTemplate, false, kFrame | WS_VISIBLE, 0},
  };
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tmpl.name);
    const HRSRC found = ::FindResourceW(instance, MAKEINTRESOURCEW(c.tmpl.id), RT_DIALOG);
    ASSERT_NE(found, nullptr);
    const auto* words = static_cast<const WORD*>(::LockResource(::LoadResource(instance, found)));
    ASSERT_NE(words, nullptr);
    if (c.extended) {
      const auto* head = reinterpret_cast<const BYTE*>(words);
      EXPECT_EQ(words[0], 1) << "version";
      EXPECT_EQ(words[1], 0xFFFF) << "signature";
      DWORD exStyle = 0, style = 0;
      std::memcpy(&exStyle, head + 8, sizeof exStyle);
      std::memcpy(&style, head + 12, sizeof style);
      EXPECT_EQ(style, c.style);
      EXPECT_EQ(exStyle, c.exStyle);
      EXPECT_EQ(words[8], c.tmpl.count) << "controls";
      EXPECT_EQ(words[11], c.tmpl.cx);
      EXPECT_EQ(words[12], c.tmpl.cy);
    } else {
      DLGTEMPLATE head{};
      std::memcpy(&head, words, sizeof head);
      EXPECT_EQ(head.style, c.style);
      EXPECT_EQ(head.dwExtendedStyle, c.exStyle);
      EXPECT_EQ(head.cdit, c.tmpl.count) << "controls";
      EXPECT_EQ(head.cx, c.tmpl.cx);
      EXPECT_EQ(head.cy, c.tmpl.cy);
    }
  }
}

}  // namespace
}  // namespace vexel::test

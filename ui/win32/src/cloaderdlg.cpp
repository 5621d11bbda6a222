#include "ui/cloaderdlg.h"

#include <commdlg.h>

#include <algorithm>
#include <climits>

#include "serial/serial_wnd.h"
#include "ui/caboutdlg.h"
#include "ui/csettingsdlg.h"
#include "ui/resource.h"

namespace vexel {
namespace {

constexpr COLORREF ToColorRef(uint32_t rgb) {
  return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

// A point font as the framework's CreatePointFont makes it: the height in
// tenths of a point converted to the screen's logical pixels.
UniqueFont CreatePointFont(int nPointSize10, const char* face) {
  LOGFONTW font{};
  const HDC screen = ::GetDC(nullptr);
  font.lfHeight = -::MulDiv(nPointSize10, ::GetDeviceCaps(screen, LOGPIXELSY), 720);
  ::ReleaseDC(nullptr, screen);
  font.lfCharSet = DEFAULT_CHARSET;
  const std::wstring name = Widen(face);
  name.copy(font.lfFaceName, LF_FACESIZE - 1);
  return UniqueFont(::CreateFontIndirectW(&font));
}

int ClampToInt(uint32_t value) { return static_cast<int>(std::min<uint32_t>(value, INT_MAX)); }

std::wstring LoadResourceString(UINT nID) {
  const wchar_t* text = nullptr;
  // A zero length asks for a pointer into the resource itself.
  const int length = ::LoadStringW(ResourceInstance(), nID, reinterpret_cast<LPWSTR>(&text), 0);
  return length > 0 ? std::wstring(text, static_cast<size_t>(length)) : std::wstring();
}

}  // namespace

bool ChooseImageFile(HWND owner, std::string& path) {
  std::wstring filter = Widen(kImageFilterName);
  filter += L'\0';
  filter += Widen(kImageFilterPattern);
  filter += L'\0';
  std::vector<wchar_t> file(32768, L'\0');
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = filter.c_str();
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.Flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_EXPLORER;
  if (!::GetOpenFileNameW(&ofn)) return false;
  path = Narrow(file.data());
  return true;
}

CLoaderDlg::CLoaderDlg(std::unique_ptr<ISerialLine> serial)
    : CDialog(kMainTemplate, nullptr),
      m_hIcon(::LoadIconW(ResourceInstance(), MAKEINTRESOURCEW(IDR_MAINFRAME))),
      m_chooseFile(&ChooseImageFile),
      m_controller(*serial, m_image, *this),
      m_serial(std::move(serial)) {}

// The line goes first (m_serial is the last member); the window with its
// timers goes with the base.
CLoaderDlg::~CLoaderDlg() { m_notifyWnd = nullptr; }

void CLoaderDlg::DoDataExchange() {
  m_btnSettings = GetDlgItem(IDC_SETTINGS);
  m_btnProgram = GetDlgItem(IDC_PROGRAM);
  m_btnConnect = GetDlgItem(IDC_CONNECT);
  m_status = GetDlgItem(IDC_STATUS);
}

// Repainting the status line runs WM_CTLCOLORSTATIC, which takes the
// colour from the look.
void CLoaderDlg::DrawLook(const LoaderLook& look) {
  ::SetWindowTextW(m_btnConnect, Widen(look.connectText).c_str());
  ::EnableWindow(m_btnProgram, look.programEnabled ? TRUE : FALSE);
  ::EnableWindow(m_btnSettings, look.settingsEnabled ? TRUE : FALSE);
  ::SetWindowTextW(m_status, Widen(look.status).c_str());
  ::InvalidateRect(m_status, nullptr, TRUE);
}

BOOL CLoaderDlg::OnInitDialog() {
  m_notifyWnd = m_hWnd;
  DoDataExchange();
  AddAboutItem();
  ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
  m_nPort = 1;
  m_statusFont = CreatePointFont(kStatusFontPoints * 10, kStatusFontFace);
  ::SendMessageW(m_status, WM_SETFONT, reinterpret_cast<WPARAM>(m_statusFont.get()), TRUE);
  InitLook();
  ::UpdateWindow(m_status);
  return TRUE;
}

// The window menu ends with a separator and the About item, when the
// menu exists and the item's string loads.
void CLoaderDlg::AddAboutItem() {
  const HMENU menu = ::GetSystemMenu(m_hWnd, FALSE);
  if (menu == nullptr) return;
  const std::wstring about = LoadResourceString(IDS_ABOUTBOX);
  if (about.empty()) return;
  ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  ::AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, about.c_str());
}

bool CLoaderDlg::OnCommand(int nID) {
  switch (nID) {
    case IDC_SETTINGS: OnSettings(); return true;
    case IDC_CONNECT: OnConnect(); return true;
    case IDC_PROGRAM: OnProgram(); return true;
    default: return false;
  }
}

INT_PTR CLoaderDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SYSCOMMAND: return OnSysCommand(static_cast<UINT>(wParam)) ? TRUE : FALSE;
    case WM_HELP: return OnSysCommand(IDM_ABOUTBOX) ? TRUE : FALSE;  // F1
    case WM_CONTEXTMENU: {
      const POINT point{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      return OnContextMenu(point) ? TRUE : FALSE;
    }
    case WM_PAINT: return OnPaint() ? TRUE : FALSE;
    case WM_QUERYDRAGICON: return reinterpret_cast<INT_PTR>(m_hIcon);
    case WM_CTLCOLORSTATIC: return OnCtlColor(reinterpret_cast<HDC>(wParam), CTLCOLOR_STATIC);
    case WM_TIMER: OnTimer(wParam); return TRUE;
    default: break;
  }
  if (message == DefaultComMessage) {
    ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, OnComMessage(wParam, lParam));
    return TRUE;
  }
  return CDialog::OnMessage(message, wParam, lParam);
}

bool CLoaderDlg::OnSysCommand(UINT nID) {
  if ((nID & 0xFFF0) != IDM_ABOUTBOX) return false;  // the default handling
  CAboutDlg dlgAbout(m_hWnd);
  dlgAbout.DoModal();
  return true;
}

// The same menu as on Linux, where it stands in for the window menu: its
// items are the window menu's commands. A right click on the caption keeps
// the window menu itself. From the keyboard (Shift+F10) the point is -1, -1,
// and the menu opens at the client area's origin.
bool CLoaderDlg::OnContextMenu(POINT point) {
  if (point.x == -1 && point.y == -1) {
    point = {0, 0};
    ::ClientToScreen(m_hWnd, &point);
  } else {
    POINT client = point;
    ::ScreenToClient(m_hWnd, &client);
    RECT area{};
    ::GetClientRect(m_hWnd, &area);
    if (!::PtInRect(&area, client)) return false;
  }
  const UniqueMenu menu(::CreatePopupMenu());
  for (const MenuItem& item : ContextMenuItems(Narrow(LoadResourceString(IDS_ABOUTBOX)))) {
    if (item.command == 0) {
      ::AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
    } else {
      ::AppendMenuW(menu.get(), MF_STRING, static_cast<UINT_PTR>(item.command),
                    Widen(item.text).c_str());
    }
  }
  const UINT command = static_cast<UINT>(::TrackPopupMenu(
      menu.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON, point.x, point.y, 0, m_hWnd, nullptr));
  if (command != 0) ::SendMessageW(m_hWnd, WM_SYSCOMMAND, command, 0);
  return true;
}

// Minimised, the dialog draws its icon centred; otherwise the default
// painting.
bool CLoaderDlg::OnPaint() {
  if (!::IsIconic(m_hWnd)) return false;
  PAINTSTRUCT paint;
  const HDC dc = ::BeginPaint(m_hWnd, &paint);
  ::SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  const int cxIcon = ::GetSystemMetrics(SM_CXICON);
  const int cyIcon = ::GetSystemMetrics(SM_CYICON);
  RECT rect;
  ::GetClientRect(m_hWnd, &rect);
  const int x = (rect.right - rect.left - cxIcon + 1) / 2;
  const int y = (rect.bottom - rect.top - cyIcon + 1) / 2;
  ::DrawIcon(dc, x, y, m_hIcon);
  ::EndPaint(m_hWnd, &paint);
  return true;
}

// Every static control of the dialog gets the status colour; only the
// status line carries text. The background stays the dialog's own.
INT_PTR CLoaderDlg::OnCtlColor(HDC hDC, UINT nCtlColor) {
  if (nCtlColor == CTLCOLOR_STATIC) {
    ::SetTextColor(hDC, ToColorRef(Look().statusRgb));
    ::SetBkColor(hDC, ::GetSysColor(COLOR_BTNFACE));
  }
  return reinterpret_cast<INT_PTR>(::GetSysColorBrush(COLOR_BTNFACE));
}

// A cancelled Settings dialog ends with the choice it was given, so the
// end code is always the choice to keep.
void CLoaderDlg::OnSettings() {
  CSettingsDlg dlg(m_nPort, m_hWnd);
  m_nPort = static_cast<int>(dlg.DoModal());
}

void CLoaderDlg::OnConnect() { m_controller.ToggleConnection(); }

void CLoaderDlg::OnProgram() {
  std::string path;
  if (m_chooseFile(m_hWnd, path)) ProgramFile(m_controller, path);
}

void CLoaderDlg::OnTimer(UINT_PTR nIDEvent) {
  m_controller.HandleTimer(static_cast<uint32_t>(nIDEvent));
}

LRESULT CLoaderDlg::OnComMessage(WPARAM wParam, LPARAM /*lParam*/) {
  m_controller.HandleLineEvent(static_cast<uint32_t>(wParam & 0xFFFF));
  return 0;
}

void CLoaderDlg::PostComMessage(uint32_t message, uint32_t wParam, intptr_t lParam) {
  const HWND target = m_notifyWnd.load();
  if (target != nullptr) {
    ::PostMessageW(target, message != 0 ? message : DefaultComMessage, wParam, lParam);
  }
}

void CLoaderDlg::ShowMessage(const std::string& text) { AppMessageBox(m_hWnd, text); }

void CLoaderDlg::StartTimer(uint32_t id, uint32_t ms) { ::SetTimer(m_hWnd, id, ms, nullptr); }

void CLoaderDlg::StopTimer(uint32_t id) { ::KillTimer(m_hWnd, id); }

void CLoaderDlg::OpenProgress(uint32_t range) {
  if (m_progressDlg != nullptr) m_oldProgress.push_back(std::move(m_progressDlg));
  m_progressDlg = std::make_unique<CProgressDlg>(ClampToInt(range), m_hWnd);
}

void CLoaderDlg::SetProgress(uint32_t position) {
  if (m_progressDlg != nullptr) m_progressDlg->SetPos(ClampToInt(position));
}

void CLoaderDlg::CloseProgress() {
  if (m_progressDlg != nullptr) m_progressDlg->DestroyWindow();
  m_progressDlg.reset();
}

}  // namespace vexel

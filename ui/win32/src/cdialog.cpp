#include "ui/cdialog.h"

#include <commctrl.h>

#include <algorithm>
#include <cwchar>

#include "ui/resource.h"
#include "ui/win32_support.h"

namespace vexel {

// The shared ids name the Win32 values on their own; they must be its values.
static_assert(kOkButton == IDOK && kCancelButton == IDCANCEL && kCloseCommand == SC_CLOSE);

namespace {

// The progress bar's class lives in the common-controls library, which must
// be initialised before any template naming it is created.
void InitCommonControlsOnce() {
  static const bool done = [] {
    INITCOMMONCONTROLSEX init{sizeof(INITCOMMONCONTROLSEX),
                              ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    return ::InitCommonControlsEx(&init) != FALSE;
  }();
  (void)done;
}

bool IsDialogWindow(HWND hWnd) {
  wchar_t name[8] = {};
  return ::GetClassNameW(hWnd, name, 8) > 0 && std::wcscmp(name, L"#32770") == 0;
}

}  // namespace

CDialog::CDialog(const DialogTemplate& tmpl, HWND pParent) : m_template(tmpl), m_pParent(pParent) {}

// The handlers of a derived class are gone by now: the window is detached
// from this object before it is destroyed.
CDialog::~CDialog() {
  if (m_hWnd != nullptr) {
    ::SetWindowLongPtrW(m_hWnd, DWLP_USER, 0);
    ::DestroyWindow(m_hWnd);
  }
}

HWND CDialog::CreateFromTemplate() {
  InitCommonControlsOnce();
  return ::CreateDialogParamW(ResourceInstance(), MAKEINTRESOURCEW(m_template.id), m_pParent,
                              &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

// Like the platform's modal dialogs, but with our own loop, so that the
// keyboard also reaches any modeless dialog (the progress dialog) open at
// the same time.
INT_PTR CDialog::DoModal() {
  m_modal = true;
  m_ended = false;
  m_nResult = -1;
  if (CreateFromTemplate() == nullptr) {
    m_modal = false;
    return -1;
  }
  const bool disableOwner = m_pParent != nullptr && ::IsWindowEnabled(m_pParent);
  if (disableOwner) ::EnableWindow(m_pParent, FALSE);
  if (!m_ended) ::ShowWindow(m_hWnd, SW_SHOW);
  RunModalLoop();
  // The owner is enabled before the dialog goes, so it gets the activation.
  if (disableOwner) ::EnableWindow(m_pParent, TRUE);
  if (m_hWnd != nullptr) ::DestroyWindow(m_hWnd);
  m_modal = false;
  return m_nResult;
}

void CDialog::RunModalLoop() {
  MSG msg;
  while (!m_ended && m_hWnd != nullptr) {
    const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got <= 0) {
      if (got == 0) ::PostQuitMessage(static_cast<int>(msg.wParam));  // for the outer loop
      break;
    }
    const HWND root = msg.hwnd != nullptr ? ::GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (root != nullptr && IsDialogWindow(root) && ::IsDialogMessageW(root, &msg)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

bool CDialog::Create() {
  m_modal = false;
  return CreateFromTemplate() != nullptr;
}

BOOL CDialog::DestroyWindow() {
  if (m_hWnd == nullptr) return FALSE;
  return ::DestroyWindow(m_hWnd);
}

void CDialog::EndDialog(int nResult) {
  if (m_modal) {
    m_nResult = nResult;
    m_ended = true;
  } else if (m_hWnd != nullptr) {
    ::ShowWindow(m_hWnd, SW_HIDE);
  }
}

// Centred on the owner, or on the work area when there is none, then moved
// as far as needed into the work area of the monitor.
void CDialog::CentreWindow() {
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  const HWND anchor = m_pParent != nullptr ? m_pParent : m_hWnd;
  if (!::GetMonitorInfoW(::MonitorFromWindow(anchor, MONITOR_DEFAULTTOPRIMARY), &monitor)) return;
  const RECT& work = monitor.rcWork;
  RECT owner = work;
  if (m_pParent != nullptr) ::GetWindowRect(m_pParent, &owner);
  RECT self{};
  ::GetWindowRect(m_hWnd, &self);
  const LONG width = self.right - self.left;
  const LONG height = self.bottom - self.top;
  const LONG x = std::max(work.left,
                          std::min((owner.left + owner.right - width) / 2, work.right - width));
  const LONG y = std::max(work.top,
                          std::min((owner.top + owner.bottom - height) / 2, work.bottom - height));
  ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    ::SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
    reinterpret_cast<CDialog*>(lParam)->m_hWnd = hWnd;
  }
  auto* self = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(hWnd, DWLP_USER));
  if (self == nullptr) return FALSE;
  return self->Dispatch(message, wParam, lParam);
}

INT_PTR CDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      const BOOL focus = OnInitDialog();
      // The templates give no position: a dialog without an owner, or one
      // whose owner it disables (a modal one), is centred; a modeless one
      // with an owner keeps 0, 0 in the owner's client area.
      if (m_modal || m_pParent == nullptr) CentreWindow();
      return focus;
    }
    case WM_COMMAND: {
      if (HIWORD(wParam) != BN_CLICKED) break;
      const int nID = LOWORD(wParam);
      if (OnCommand(nID)) return TRUE;
      if (nID == IDOK) {
        OnOK();
        return TRUE;
      }
      if (nID == IDCANCEL) {
        OnCancel();
        return TRUE;
      }
      break;
    }
    case WM_NCDESTROY:
      ::SetWindowLongPtrW(m_hWnd, DWLP_USER, 0);
      m_hWnd = nullptr;
      return FALSE;
    default: break;
  }
  return OnMessage(message, wParam, lParam);
}

INT_PTR CDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  (void)message;
  (void)wParam;
  (void)lParam;
  return FALSE;
}

}  // namespace vexel

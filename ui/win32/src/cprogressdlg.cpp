#include "ui/cprogressdlg.h"

#include <commctrl.h>
#include <uxtheme.h>

#include "ui/resource.h"

namespace vexel {

CProgressDlg::CProgressDlg(int nRange, HWND pParent)
    : CDialog(kProgressTemplate, pParent), m_nRange(nRange) {
  Create();
}

CProgressDlg::~CProgressDlg() { DestroyWindow(); }

// The 32-bit range message keeps an image longer than 65,535 bytes true to
// scale.
BOOL CProgressDlg::OnInitDialog() {
  m_progress = GetDlgItem(IDC_PROGRESS);
  DrawBarInBlocks();
  ::SendMessageW(m_progress, PBM_SETRANGE32, 0, m_nRange);
  PlaceOverOwner();
  return TRUE;
}

// A visual style draws a progress bar continuous whatever its style; with a
// theme class list that names no class the bar is drawn classic, in blocks,
// as on Linux. Windows also takes empty strings for that; Wine only this.
void CProgressDlg::DrawBarInBlocks() { ::SetWindowTheme(m_progress, L" ", L" "); }

// The template's position 0, 0 is taken in the owner's client coordinates;
// not every dialog manager does that for a modeless dialog, so it is done
// here.
void CProgressDlg::PlaceOverOwner() {
  const HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
  if (owner == nullptr) return;
  POINT origin{0, 0};
  ::ClientToScreen(owner, &origin);
  ::SetWindowPos(m_hWnd, nullptr, origin.x, origin.y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// With no window (a failed creation) the message goes nowhere and 0 comes
// back, as for a window that was never moved.
int CProgressDlg::SetPos(int nPos) {
  if (m_hWnd == nullptr) return 0;
  return static_cast<int>(::SendMessageW(m_progress, PBM_SETPOS, static_cast<WPARAM>(nPos), 0));
}

}  // namespace vexel

#include "ui/csettingsdlg.h"

#include "ui/resource.h"

namespace vexel {

CSettingsDlg::CSettingsDlg(int nPort, HWND pParent)
    : CDialog(kSettingsTemplate, pParent), m_nPort(nPort), m_nStartPort(nPort) {}

// Exactly one button is checked: COM2 for the choice 2, COM1 for any other
// value. Checking it is not a click, so the choice itself stays as given.
BOOL CSettingsDlg::OnInitDialog() {
  ::SendDlgItemMessageW(m_hWnd, IDC_COM1 + (m_nPort == 2 ? 1 : 0), BM_SETCHECK, BST_CHECKED, 0);
  return TRUE;
}

void CSettingsDlg::OnOK() { EndDialog(m_nPort); }

void CSettingsDlg::OnCancel() { EndDialog(m_nStartPort); }

bool CSettingsDlg::OnCommand(int nID) {
  switch (nID) {
    case IDC_COM1: OnCom1(); return true;
    case IDC_COM2: OnCom2(); return true;
    default: return false;
  }
}

}  // namespace vexel

// The Settings dialog: the choice of serial port, COM1 or COM2.
#pragma once

#include "ui/cdialog.h"

namespace vexel {

/// Modal dialog editing the port choice (1 = COM1, 2 = COM2).
///
/// End codes of DoModal: the choice when OK ends it (the value given to the
/// constructor when no radio button was clicked, whatever it is), and the
/// value given to the constructor when Escape or the close box ends it, so a
/// cancelled dialog keeps the earlier choice; -1 when it cannot be created.
class CSettingsDlg : public CDialog {
 public:
  CSettingsDlg(int nPort, HWND pParent);

 protected:
  BOOL OnInitDialog() override;
  void OnOK() override;
  /// Escape and the close box: ends with the starting choice.
  void OnCancel() override;
  bool OnCommand(int nID) override;

 private:
  void OnCom1() { m_nPort = 1; }
  void OnCom2() { m_nPort = 2; }

  int m_nPort;
  const int m_nStartPort;
};

}  // namespace vexel

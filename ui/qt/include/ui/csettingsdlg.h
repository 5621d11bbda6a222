// The Settings dialog: the choice of serial port, COM1 or COM2.
#pragma once

#include <QDialog>

class QPushButton;
class QRadioButton;

namespace vexel {

/// Modal dialog editing the port choice (1 = COM1, 2 = COM2).
///
/// End codes of DoModal: the choice when OK ends it (the value given to the
/// constructor when no radio button was clicked, whatever it is), and the
/// value given to the constructor when Escape or the close box ends it, so a
/// cancelled dialog keeps the earlier choice.
class CSettingsDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CSettingsDlg(int nPort, QWidget* pParent = nullptr);

  /// Shows the dialog until it ends and returns its end code.
  int DoModal();

  /// Escape and the close box: ends with the starting choice.
  void reject() override;

 protected:
  /// The bare keys 1 and 2 select the ports, as their mnemonics.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void DoDataExchange();
  void WireHandlers();
  void OnInitDialog();
  void OnOK();
  void OnCom1();
  void OnCom2();

  int m_nPort;
  const int m_nStartPort;
  QRadioButton* m_com1 = nullptr;
  QRadioButton* m_com2 = nullptr;
  QPushButton* m_ok = nullptr;
};

}  // namespace vexel

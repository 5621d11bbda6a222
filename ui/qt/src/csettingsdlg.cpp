#include "ui/csettingsdlg.h"

#include <QKeyEvent>
#include <QPushButton>
#include <QRadioButton>

#include "ui/dialog_template.h"
#include "ui/resource.h"

namespace vexel {

CSettingsDlg::CSettingsDlg(int nPort, QWidget* pParent)
    : QDialog(pParent), m_nPort(nPort), m_nStartPort(nPort) {
  BuildDialog(*this, kSettingsTemplate);
  DoDataExchange();
  OnInitDialog();
  WireHandlers();
}

int CSettingsDlg::DoModal() { return exec(); }

void CSettingsDlg::reject() { done(m_nStartPort); }

void CSettingsDlg::keyPressEvent(QKeyEvent* event) {
  if (!PressMnemonic(*this, *event)) {
    QDialog::keyPressEvent(event);
  }
}

void CSettingsDlg::DoDataExchange() {
  m_ok = DlgItem<QPushButton>(*this, kOkButton);
  m_com1 = DlgItem<QRadioButton>(*this, IDC_COM1);
  m_com2 = DlgItem<QRadioButton>(*this, IDC_COM2);
}

void CSettingsDlg::WireHandlers() {
  connect(m_ok, &QPushButton::clicked, this, &CSettingsDlg::OnOK);
  connect(m_com1, &QRadioButton::clicked, this, &CSettingsDlg::OnCom1);
  connect(m_com2, &QRadioButton::clicked, this, &CSettingsDlg::OnCom2);
}

// Exactly one button is checked: COM2 for the choice 2, COM1 for any other
// value. Checking it is not a click, so the choice itself stays as given.
void CSettingsDlg::OnInitDialog() {
  DlgItem<QRadioButton>(*this, IDC_COM1 + (m_nPort == 2 ? 1 : 0))->setChecked(true);
  m_ok->setFocus();
}

void CSettingsDlg::OnOK() { done(m_nPort); }
void CSettingsDlg::OnCom1() { m_nPort = 1; }
void CSettingsDlg::OnCom2() { m_nPort = 2; }

}  // namespace vexel

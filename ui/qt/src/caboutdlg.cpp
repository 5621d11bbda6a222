#include "ui/caboutdlg.h"

#include <QPushButton>

#include "ui/dialog_template.h"
#include "ui/resource.h"

namespace vexel {

CAboutDlg::CAboutDlg(QWidget* pParent) : QDialog(pParent) {
  BuildDialog(*this, kAboutTemplate);
  WireHandlers();
}

int CAboutDlg::DoModal() { return exec(); }

void CAboutDlg::WireHandlers() {
  connect(DlgItem<QPushButton>(*this, kOkButton), &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace vexel

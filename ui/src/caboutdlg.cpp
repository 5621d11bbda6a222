#include "ui/caboutdlg.h"

#include <iterator>

#include <QPushButton>

#include "ui/dialog_template.h"
#include "ui/resource.h"
#include "ui/version.h"

namespace vexel {
namespace {

constexpr ControlTemplate kAboutControls[] = {
    // id        name          kind                     text                                        x    y   cx   cy  style
    {IDC_STATIC, "IDC_STATIC", ControlKind::StaticText, "Vexel Loader Version " VEXEL_VERSION_SHORT, 40,  10, 119,  8, 0},
    {IDC_STATIC, "IDC_STATIC", ControlKind::StaticText, VEXEL_COPYRIGHT,                             40,  25, 134,  8, 0},
    {IDOK,       "IDOK",       ControlKind::PushButton, "OK",                                       178,   7,  50, 14, kTabStop | kDefaultButton},
};

constexpr DialogTemplate kAboutTemplate{IDD_ABOUTBOX, "About Vexel Loader", 235, 55, true,
                                        kAboutControls, std::size(kAboutControls)};

}  // namespace

CAboutDlg::CAboutDlg(QWidget* pParent) : QDialog(pParent) {
  BuildDialog(*this, kAboutTemplate);
  WireHandlers();
}

int CAboutDlg::DoModal() { return exec(); }

void CAboutDlg::WireHandlers() {
  connect(DlgItem<QPushButton>(*this, IDOK), &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace vexel

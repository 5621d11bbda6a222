// The About box: the program's name, version and copyright.
#pragma once

#include "ui/cdialog.h"

namespace vexel {

/// Modal box ended by OK, Escape or the close box.
class CAboutDlg : public CDialog {
 public:
  explicit CAboutDlg(HWND pParent) : CDialog(kAboutTemplate, pParent) {}
};

}  // namespace vexel

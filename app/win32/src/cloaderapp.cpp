#include "app/cloaderapp.h"

#include <memory>

#include "serial/serial_wnd.h"
#include "ui/cloaderdlg.h"

namespace vexel {

// The dialog's modal loop is the program's outermost one; its members are
// destroyed when this returns, the serial line first.
BOOL CLoaderApp::InitInstance() {
  CLoaderDlg dlg(std::make_unique<CSerialCWnd>());
  dlg.DoModal();
  return FALSE;
}

}  // namespace vexel

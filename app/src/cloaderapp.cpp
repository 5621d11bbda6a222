#include "app/cloaderapp.h"

#include "ui/cloaderdlg.h"
#include "ui/version.h"

// Resources compiled into a static library are registered explicitly;
// the macro must be used outside any namespace.
static void InitDuvozevivResources() { Q_INIT_RESOURCE(duvozeviv); }

namespace vexel {

void InitAppResources() { InitDuvozevivResources(); }

CLoaderApp::CLoaderApp(int& argc, char** argv) : QApplication(argc, argv) {
  InitAppResources();
  setApplicationVersion(QStringLiteral(VEXEL_VERSION));
  setDesktopFileName(QStringLiteral("com.vexel.duvozeviv"));
}

// The dialog's modal loop is the program's outermost one; its members are
// destroyed when this returns, the serial line first.
bool CLoaderApp::InitInstance() {
  CLoaderDlg dlg;
  dlg.DoModal();
  return false;
}

}  // namespace vexel

#include "app/cloaderapp.h"

#include "ui/cloaderdlg.h"
#include "ui/version.h"

// Resources compiled into a static library are registered explicitly;
// the macro must be used outside any namespace.
static void InitDuvozevivResources() { Q_INIT_RESOURCE(duvozeviv); }

namespace vexel {
namespace {

// Qt keeps the argument count and vector it is given for the application's
// life; one application exists per process.
char g_defaultName[] = "duvozeviv";
int g_argc = 1;
char* g_argv[] = {g_defaultName, nullptr};

int& ProgramNameOnly(int argc, char** argv) {
  if (argc > 0 && argv[0] != nullptr) {
    g_argv[0] = argv[0];
  }
  return g_argc;
}

}  // namespace

void InitAppResources() { InitDuvozevivResources(); }

CLoaderApp::CLoaderApp(int argc, char** argv) : QApplication(ProgramNameOnly(argc, argv), g_argv) {
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

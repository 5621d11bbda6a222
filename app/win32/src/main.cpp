// duvozeviv: the dialog program of the Vexel Module Loader, Win32 edition.
// The command line is ignored.
#include "app/cloaderapp.h"

namespace {
vexel::CLoaderApp theApp;
}  // namespace

int WINAPI WinMain(HINSTANCE /*hInstance*/, HINSTANCE /*hPrevInstance*/, LPSTR /*lpCmdLine*/,
                   int /*nShowCmd*/) {
  theApp.InitInstance();
  return 0;
}

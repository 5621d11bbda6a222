// duvozeviv: the dialog program of the Vexel Module Loader.
#include "app/cloaderapp.h"

int main(int argc, char* argv[]) {
  vexel::CLoaderApp app(argc, argv);
  app.InitInstance();
  return 0;
}

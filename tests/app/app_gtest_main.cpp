// GoogleTest main whose application object is the program's own, so the
// tests see the start-up exactly as the program does.
#include <vector>

#include <gtest/gtest.h>

#include "app/cloaderapp.h"

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  // The program has no command line, not even Qt's options: -reverse given
  // to Qt would mirror every dialog (LoaderApp.IgnoresItsCommandLine).
  char reverse[] = "-reverse";
  std::vector<char*> programArgs(argv, argv + argc);
  programArgs.push_back(reverse);
  programArgs.push_back(nullptr);
  vexel::CLoaderApp app(argc + 1, programArgs.data());
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

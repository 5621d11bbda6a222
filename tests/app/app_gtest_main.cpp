// GoogleTest main whose application object is the program's own, so the
// tests see the start-up exactly as the program does.
#include <gtest/gtest.h>

#include "app/cloaderapp.h"

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  vexel::CLoaderApp app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

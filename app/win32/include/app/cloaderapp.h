// The application object of the Win32 edition: runs the main dialog.
#pragma once

#include <windows.h>

namespace vexel {

class CLoaderApp {
 public:
  /// Runs the main dialog modally on the program's serial line; the
  /// program ends when it closes. Always FALSE: no message loop of the
  /// application's own follows.
  BOOL InitInstance();
};

}  // namespace vexel

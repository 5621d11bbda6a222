// The application object: starts the program and runs the main dialog.
#pragma once

#include <QApplication>

namespace vexel {

/// Makes the application's resources (icon, picture, strings) available.
/// CLoaderApp does it; other users of the dialogs (tests, tools) call it.
void InitAppResources();

/// The Qt application. The program has no command line: only the program
/// name in argv[0] reaches Qt, so Qt's own options (-platform, -reverse, ...)
/// are ignored like any other argument; the platform comes from
/// QT_QPA_PLATFORM.
class CLoaderApp : public QApplication {
  Q_OBJECT

 public:
  CLoaderApp(int argc, char** argv);

  /// Runs the main dialog modally; the program ends when it closes. Returns
  /// false: no event loop of the application's own follows.
  bool InitInstance();
};

}  // namespace vexel

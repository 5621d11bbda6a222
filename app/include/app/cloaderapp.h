// The application object: starts the program and runs the main dialog.
#pragma once

#include <QApplication>

namespace vexel {

/// Makes the application's resources (icon, picture, strings) available.
/// CLoaderApp does it; other users of the dialogs (tests, tools) call it.
void InitAppResources();

/// The Qt application, given argc/argv only for Qt's own options (such as
/// -platform); the program itself has no command line.
class CLoaderApp : public QApplication {
  Q_OBJECT

 public:
  CLoaderApp(int& argc, char** argv);

  /// Runs the main dialog modally; the program ends when it closes. Returns
  /// false: no event loop of the application's own follows.
  bool InitInstance();
};

}  // namespace vexel

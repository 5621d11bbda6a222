// The About box: the program's name, version and copyright.
#pragma once

#include <QDialog>

namespace vexel {

/// Modal box ended by OK, Escape or the close box.
class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* pParent = nullptr);

  /// Shows the box until it ends; callers ignore the result.
  int DoModal();

 private:
  void WireHandlers();
};

}  // namespace vexel

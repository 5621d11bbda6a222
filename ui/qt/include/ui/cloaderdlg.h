// The program's main dialog: Connect, Program module... and Settings...
// buttons, the picture and the coloured status line. It hosts the
// programming controller on Qt and turns clicks, timer expiries and the
// serial watcher's notifications into calls of the controller.
#pragma once

#include <cstdint>
#include <functional>
#include <map>

#include <QBasicTimer>
#include <QDialog>
#include <QFont>
#include <QIcon>
#include <QString>

#include "protocol/controller_host.h"
#include "protocol/image_file.h"
#include "protocol/programming_controller.h"
#include "serial/serial_wnd.h"
#include "ui/loader_dlg_logic.h"

class QLabel;
class QMenu;
class QPushButton;

namespace vexel {

class CProgressDlg;

/// Asks the user for the image file to program; false when cancelled.
using FileChooser = std::function<bool(QWidget* parent, QString& path)>;

/// The file-open dialog for module binary files (kImageFilterName).
bool ChooseImageFile(QWidget* parent, QString& path);

/// The application name: the executable's file name without its extension.
/// Message boxes carry it as their caption.
QString AppName();

class CLoaderDlg : public QDialog, public CLoaderDlgLogic, public ComNotifyTarget {
  Q_OBJECT

 public:
  explicit CLoaderDlg(QWidget* pParent = nullptr);
  ~CLoaderDlg() override;

  /// Runs the dialog modally until Escape, the close box or the window
  /// menu's Close ends it.
  int DoModal();

  /// Replaces the file-open dialog of Program module... (tests).
  void SetFileChooser(FileChooser chooser) { m_chooseFile = std::move(chooser); }

  const ProgrammingController& Controller() const { return m_controller; }

  // ControllerHost, on Qt; the look is CLoaderDlgLogic's.
  int GetPortChoice() override { return m_nPort; }
  /// A modal box with one OK button, captioned with AppName(); timers and
  /// line notifications go on being handled while it is open.
  void ShowMessage(const std::string& text) override;
  /// Window timers: each repeats every @p ms until stopped.
  void StartTimer(uint32_t id, uint32_t ms) override;
  void StopTimer(uint32_t id) override;
  void OpenProgress(uint32_t range) override;
  void SetProgress(uint32_t position) override;
  void CloseProgress() override;
  ComNotifyTarget* NotificationTarget() override { return this; }

  /// Called on the serial watcher thread: only posts an event to this dialog.
  void PostComMessage(uint32_t message, uint32_t wParam, intptr_t lParam) override;

 signals:
  /// The status line has been shown with @p text (in its current colour).
  void statusShown(const QString& text);

 protected:
  bool event(QEvent* event) override;
  void timerEvent(QTimerEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void DrawLook(const LoaderLook& look) override;

 private:
  void DoDataExchange();
  void WireHandlers();
  void OnInitDialog();
  void BuildSystemMenu();
  void OnSysCommand(int nID);
  void OnSettings();
  void OnConnect();
  void OnProgram();
  void OnTimer(uint32_t nIDEvent);
  void OnComMessage(uint32_t wParam, intptr_t lParam);

  QPushButton* m_btnSettings = nullptr;
  QPushButton* m_btnProgram = nullptr;
  QPushButton* m_btnConnect = nullptr;
  QLabel* m_status = nullptr;
  QIcon m_hIcon;
  CProgressDlg* m_progressDlg = nullptr;  // also a child: deleted with the dialog
  QMenu* m_sysMenu = nullptr;
  std::map<uint32_t, QBasicTimer> m_timers;
  FileChooser m_chooseFile;
  SnapshotImageFile m_image;
  int m_nPort = 1;
  QFont m_statusFont;
  ProgrammingController m_controller;
  // Last, so it is destroyed first: its watcher stops and the line closes
  // before anything the controller refers to is gone.
  CSerialCWnd m_serial;
};

}  // namespace vexel

// The program's main dialog on Win32: Connect, Program module... and
// Settings... buttons, the picture and the coloured status line. It hosts
// the programming controller and turns clicks, timer expiries and the serial
// watcher's registered message into calls of the controller.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "protocol/controller_host.h"
#include "protocol/image_file.h"
#include "protocol/programming_controller.h"
#include "serial/serial_line.h"
#include "ui/cdialog.h"
#include "ui/cprogressdlg.h"
#include "ui/loader_dlg_logic.h"
#include "ui/win32_support.h"

namespace vexel {

/// Asks the user for the image file to program (UTF-8 path); false when
/// cancelled.
using FileChooser = std::function<bool(HWND owner, std::string& path)>;

/// The file-open dialog for module binary files (kImageFilterName).
bool ChooseImageFile(HWND owner, std::string& path);

class CLoaderDlg : public CDialog, public CLoaderDlgLogic, public ComNotifyTarget {
 public:
  /// @p serial is the line the controller drives (the program's CSerialCWnd,
  /// or a simulated one); the dialog owns it and destroys it first.
  explicit CLoaderDlg(std::unique_ptr<ISerialLine> serial);
  ~CLoaderDlg() override;

  /// Replaces the file-open dialog of Program module... (tests).
  void SetFileChooser(FileChooser chooser) { m_chooseFile = std::move(chooser); }

  const ProgrammingController& Controller() const { return m_controller; }
  /// The progress display of the current run, or null.
  CProgressDlg* Progress() const { return m_progressDlg.get(); }

  // ControllerHost, on Win32; the look is CLoaderDlgLogic's.
  int GetPortChoice() override { return m_nPort; }
  /// A modal box with one OK button, captioned with AppName(); timers and
  /// line notifications go on being handled while it is open.
  void ShowMessage(const std::string& text) override;
  /// SetTimer on the dialog: each repeats every @p ms until stopped.
  void StartTimer(uint32_t id, uint32_t ms) override;
  void StopTimer(uint32_t id) override;
  void OpenProgress(uint32_t range) override;
  void SetProgress(uint32_t position) override;
  void CloseProgress() override;
  ComNotifyTarget* NotificationTarget() override { return this; }

  /// Called on the serial watcher thread: only posts the message (0: the
  /// registered DefaultComMessage) to the dialog's window.
  void PostComMessage(uint32_t message, uint32_t wParam, intptr_t lParam) override;

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int nID) override;
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void DrawLook(const LoaderLook& look) override;

 private:
  void DoDataExchange();
  void AddAboutItem();
  bool OnSysCommand(UINT nID);
  bool OnContextMenu(POINT point);
  bool OnPaint();
  INT_PTR OnCtlColor(HDC hDC, UINT nCtlColor);
  void OnSettings();
  void OnConnect();
  void OnProgram();
  void OnTimer(UINT_PTR nIDEvent);
  LRESULT OnComMessage(WPARAM wParam, LPARAM lParam);

  HWND m_btnSettings = nullptr;
  HWND m_btnProgram = nullptr;
  HWND m_btnConnect = nullptr;
  HWND m_status = nullptr;
  HICON m_hIcon;  // a shared resource icon: never destroyed
  std::unique_ptr<CProgressDlg> m_progressDlg;
  // Displays a failed run left open, no longer the current one.
  std::vector<std::unique_ptr<CProgressDlg>> m_oldProgress;
  FileChooser m_chooseFile;
  std::atomic<HWND> m_notifyWnd{nullptr};  // read by the watcher thread
  SnapshotImageFile m_image;               // Windows: other writers locked out while open
  int m_nPort = 1;
  UniqueFont m_statusFont;
  ProgrammingController m_controller;
  // Last, so it is destroyed first: its watcher stops and the line closes
  // before anything the controller refers to is gone.
  std::unique_ptr<ISerialLine> m_serial;
};

}  // namespace vexel

// Windows only: the notification target that is a window. The watcher's
// notifications reach the window's thread as posted messages.
#pragma once

#include <cstdint>

#include "serial/serial_types.h"

struct HWND__;  // the platform's window handle type, HWND, without <windows.h>

namespace vexel {

/// Posts every notification to a window with PostMessageA: message id,
/// wParam and lParam as the watcher gives them. The result of posting is not
/// looked at (a window that is gone, or a full queue, loses the message). The
/// target must outlive the port it is given to, or that port's Close.
///
///     HwndNotifyTarget target(hDlg);
///     m_serial.Open("COM1", &target, 0, 0, 2048, 2048);  // posts DefaultComMessage
class HwndNotifyTarget final : public ComNotifyTarget {
 public:
  explicit HwndNotifyTarget(HWND__* window = nullptr) : m_hWnd(window) {}

  /// The window; a null one receives nothing. Change it only while no
  /// watcher posts to this target.
  void SetWindow(HWND__* window) { m_hWnd = window; }
  HWND__* Window() const { return m_hWnd; }

  void PostComMessage(uint32_t message, uint32_t wParam, intptr_t lParam) override;

 private:
  HWND__* m_hWnd;
};

}  // namespace vexel

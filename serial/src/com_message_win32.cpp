// Message ids and their posting on Windows: the window system registers the
// ids and queues the messages.
#include <windows.h>

#include "serial/serial_wnd.h"
#include "serial/window_target.h"

namespace vexel {

// The window system compares names without regard to case.
uint32_t RegisterComMessage(const char* name) {
  if (name == nullptr || *name == '\0') return 0;
  return ::RegisterWindowMessageA(name);
}

extern const uint32_t DefaultComMessage = RegisterComMessage("CSerialWnd_DefaultComMsg");

void HwndNotifyTarget::PostComMessage(uint32_t message, uint32_t wParam, intptr_t lParam) {
  if (m_hWnd != nullptr) ::PostMessageA(m_hWnd, message, wParam, lParam);
}

}  // namespace vexel

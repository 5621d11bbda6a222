// Message ids on Windows come from the window system's registry.
#include <windows.h>
#include <gtest/gtest.h>

#include "serial/serial_wnd.h"
#include "serial/window_target.h"

namespace vexel {
namespace {

TEST(RegisterComMessageWin32, IsTheWindowSystemsRegistration) {
  EXPECT_EQ(DefaultComMessage, ::RegisterWindowMessageA("CSerialWnd_DefaultComMsg"));
  EXPECT_EQ(RegisterComMessage("cserialwnd_defaultcommsg"), DefaultComMessage)
      << "the window system compares names without regard to case";
}

TEST(HwndNotifyTarget, WithoutAWindowPostsNothing) {
  HwndNotifyTarget target;
  EXPECT_EQ(target.Window(), nullptr);
  target.PostComMessage(DefaultComMessage, 1, 2);
  MSG msg;
  EXPECT_FALSE(::PeekMessageA(&msg, nullptr, DefaultComMessage, DefaultComMessage, PM_REMOVE));
}

}  // namespace
}  // namespace vexel

// The in-process registry of message ids that stands in for the window
// system's on Linux.
#include <gtest/gtest.h>

#include "serial/serial_wnd.h"

namespace vexel {
namespace {

TEST(RegisterComMessagePosix, NamesAreComparedExactly) {
  const uint32_t a = RegisterComMessage("ComMessagePosixTest_A");
  EXPECT_NE(RegisterComMessage("comMessagePosixTest_A"), a);
}

}  // namespace
}  // namespace vexel

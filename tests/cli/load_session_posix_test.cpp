// The load session's platform cases on Linux: errno texts, device groups,
// signals.
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <gtest/gtest.h>

#include "load_session_fixture.h"

namespace vexel::cli {
namespace {

using test::ImageOf;
using test::LoadSessionTest;

TEST_F(LoadSessionTest, PortThatCannotBeOpenedSaysWhy) {
  ExpectOpenFailures("COM2", {
                                 {kErrorFileNotFound, ENOENT,
                                  "No such file or directory; --list-ports shows the serial ports"},
                                 {kErrorAlreadyInitialized, 0, "result 1247"},
                                 {31, EIO, "Input/output error"},
                             });
}

TEST_F(LoadSessionTest, PermissionDeniedNamesTheDevicesGroup) {
  const struct group* dialout = ::getgrnam("dialout");
  if (::geteuid() != 0 || dialout == nullptr) GTEST_SKIP() << "needs root and a dialout group";
  const std::string device = m_dir.Write("ttyVX0", "").string();
  ASSERT_EQ(::chown(device.c_str(), 0, dialout->gr_gid), 0);
  ASSERT_EQ(::chmod(device.c_str(), 0660), 0);
  auto module = AddPort();
  module->openResult = kErrorAccessDenied;
  module->osError = EACCES;
  module->device = device;
  EXPECT_EQ(Run({"COM1"}, WriteImage(ImageOf(10))), 4);
  EXPECT_EQ(m_err.str(), "COM1: Cannot open open COM1: Permission denied; " + device +
                             " belongs to group dialout; add yourself with: sudo usermod -aG "
                             "dialout $USER, then log in again\n");
}

TEST_F(LoadSessionTest, LineThatRefusesTheFormatIsClosed) {
  auto module = AddPort();
  module->lineFormatResult = 87;
  module->osError = EINVAL;
  EXPECT_EQ(Run({"COM1"}, WriteImage(ImageOf(10))), 4);
  EXPECT_EQ(m_err.str(), "COM1: Cannot switch to 57600, E, 8 2: Invalid argument\n");
  EXPECT_FALSE(module->open);
}

TEST_F(LoadSessionTest, CtrlCClosesEveryPortAndEndsWith130) {
  ExpectInterruptClosesEveryPort([] { ::raise(SIGINT); });
  // The default action is back: the handler is only there while loading.
  struct sigaction now {};
  ::sigaction(SIGINT, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
}

}  // namespace
}  // namespace vexel::cli

#include "runner/open_diagnosis.h"
#include "runner/open_diagnosis_posix.h"

#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace vexel::cli {
namespace {

using vexel::test::TempDir;

// A /proc with three processes: 120 holds the port, 121 holds something
// else, and the caller's own entry (which is never reported).
void FakeProc(const TempDir& proc, const std::string& device) {
  proc.Write("120/comm", "minicom\n");
  proc.Link("120/fd/0", "/dev/null");
  proc.Link("120/fd/3", device);
  proc.Write("121/comm", "bash\n");
  proc.Link("121/fd/0", "/dev/pts/9");
  const std::string self = std::to_string(::getpid());
  proc.Write(self + "/comm", "me\n");
  proc.Link(self + "/fd/4", device);
  proc.Link("self", self);
}

TEST(OpenDiagnosis, FindsTheProgramsThatHoldThePort) {
  TempDir proc;
  FakeProc(proc, "/dev/ttyVX0");
  const auto holders = FindPortHolders("/dev/ttyVX0", proc.Path().string(), ::getpid());
  ASSERT_EQ(holders.size(), 1u);
  EXPECT_EQ(holders[0].pid, 120);
  EXPECT_EQ(holders[0].name, "minicom");
  EXPECT_TRUE(FindPortHolders("/dev/ttyVX1", proc.Path().string(), ::getpid()).empty());
}

TEST(OpenDiagnosis, BusyPortNamesItsHolder) {
  TempDir proc;
  FakeProc(proc, "/dev/ttyVX0");
  const std::string busy = "the port is busy: another program holds it";
  for (int error : {EBUSY, EWOULDBLOCK}) {
    EXPECT_EQ(DescribeOpenFailure("/dev/ttyVX0", error, proc.Path().string()),
              busy + ": minicom (pid 120)");
    EXPECT_EQ(DescribeOpenFailure("/dev/ttyVX1", error, proc.Path().string()), busy);
  }
}

TEST(OpenDiagnosis, BusyPortNamesTheOwnerOfItsLock) {
  TempDir dir;
  TempDir proc;
  const auto device = dir.Write("ttyVX0", "").string();
  FakeProc(proc, device);  // 120 has it open, but 77 holds the lock
  struct stat info {};
  ASSERT_EQ(::stat(device.c_str(), &info), 0);
  char id[64];
  std::snprintf(id, sizeof id, "%02x:%02x:%llu", major(info.st_dev), minor(info.st_dev),
                static_cast<unsigned long long>(info.st_ino));
  proc.Write("locks", std::string("1: POSIX  ADVISORY  WRITE 55 00:00:1 0 EOF\n") +
                          "2: FLOCK  ADVISORY  WRITE 77 " + id + " 0 EOF\n" +
                          "2: -> FLOCK  ADVISORY  WRITE 78 " + id + " 0 EOF\n");
  proc.Write("77/comm", "picocom\n");
  const auto holders = FindLockHolders(device, proc.Path().string());
  ASSERT_EQ(holders.size(), 1u);
  EXPECT_EQ(holders[0].pid, 77);
  EXPECT_EQ(DescribeOpenFailure(device, EWOULDBLOCK, proc.Path().string()),
            "the port is busy: another program holds it: picocom (pid 77)");
}

// Permission checks need a file with a known owner, group and mode; root can
// set them on any file.
TEST(OpenDiagnosis, PermissionDeniedNamesTheGroupToJoin) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the file away";
  const struct group* dialout = ::getgrnam("dialout");
  if (dialout == nullptr) GTEST_SKIP() << "no dialout group";
  TempDir dir;
  const auto device = dir.Write("ttyVX0", "").string();
  ASSERT_EQ(::chown(device.c_str(), 0, dialout->gr_gid), 0);
  ASSERT_EQ(::chmod(device.c_str(), 0660), 0);
  const std::string expected = "Permission denied; " + device +
                               " belongs to group dialout; add yourself with: sudo usermod -aG "
                               "dialout $USER, then log in again";
  EXPECT_EQ(DescribeOpenFailure(device, EACCES), expected);
  EXPECT_EQ(DescribeOpenFailure(device, EPERM), expected);

  // A group without read and write access, or root's own, is no way in.
  ASSERT_EQ(::chmod(device.c_str(), 0620), 0);
  EXPECT_EQ(DescribeOpenFailure(device, EACCES),
            "Permission denied; " + device +
                " is mode 0620, owner root, group dialout: ask the administrator for access "
                "(e.g. a udev rule)");
  ASSERT_EQ(::chown(device.c_str(), 0, 0), 0);
  ASSERT_EQ(::chmod(device.c_str(), 0660), 0);
  EXPECT_EQ(DescribeOpenFailure(device, EACCES),
            "Permission denied; " + device +
                " is mode 0660, owner root, group root: ask the administrator for access "
                "(e.g. a udev rule)");
}

TEST(OpenDiagnosis, OtherErrorsGiveTheOsText) {
  EXPECT_EQ(DescribeOpenFailure("/dev/ttyVX0", 0), "");
  EXPECT_EQ(DescribeOpenFailure("/dev/ttyVX0", ENOENT),
            "No such file or directory; --list-ports shows the serial ports");
  EXPECT_EQ(DescribeOpenFailure("/dev/ttyVX0", EIO), "Input/output error");
  EXPECT_EQ(DescribeOpenFailure("/nonexistent/ttyVX0", EACCES), "Permission denied");
}

}  // namespace
}  // namespace vexel::cli

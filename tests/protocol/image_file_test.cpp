// The image file: one consistent version of the file for the whole run.
#include <gtest/gtest.h>

#include "loader_rig.h"

namespace vexel::testing {
namespace {

TEST(ImageFile, ReadsTheFileInOrderAndStopsAtItsEnd) {
  TempDir dir;
  SnapshotImageFile file;
  ASSERT_TRUE(file.Open(dir.File("a.mbf", Pattern(100))));
  EXPECT_EQ(file.GetLength(), 100u);
  uint8_t buffer[64] = {};
  EXPECT_EQ(file.Read(buffer, 64), 64u);
  EXPECT_EQ(file.GetPosition(), 64u);
  EXPECT_EQ(buffer[1], Pattern(100)[1]);
  EXPECT_EQ(file.Read(buffer, 64), 36u);
  EXPECT_EQ(buffer[35], Pattern(100)[99]);
  EXPECT_EQ(file.Read(buffer, 64), 0u);
  EXPECT_EQ(file.GetPosition(), 100u);
}

TEST(ImageFile, AWriterAfterOpenDoesNotChangeWhatIsSent) {
  TempDir dir;
  const std::string path = dir.File("a.mbf", Pattern(128));
  SnapshotImageFile file;
  ASSERT_TRUE(file.Open(path));
  dir.File("a.mbf", Bytes(300, 0xEE));  // rewritten in place mid-run
  uint8_t buffer[128] = {};
  EXPECT_EQ(file.GetLength(), 128u);
  EXPECT_EQ(file.Read(buffer, 128), 128u);
  EXPECT_EQ(Bytes(buffer, buffer + 128), Pattern(128));
}

TEST(ImageFile, CloseReleasesTheImage) {
  TempDir dir;
  SnapshotImageFile file;
  ASSERT_TRUE(file.Open(dir.File("a.mbf", Pattern(10))));
  file.Close();
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.GetLength(), 0u);
  EXPECT_EQ(file.GetPosition(), 0u);
}

// Several runs send one version: files made from another's snapshot serve it
// read-only, whatever happens to the file afterwards, and hold no copy.
TEST(ImageFile, FilesSharingASnapshotServeTheSameBytes) {
  TempDir dir;
  const std::string path = dir.File("a.mbf", Pattern(100));
  SnapshotImageFile first;
  ASSERT_TRUE(first.Open(path));
  SnapshotImageFile second(first.Snapshot());
  dir.File("a.mbf", Bytes(300, 0xEE));  // replaced before the second run opens it
  ASSERT_TRUE(second.Open(path));
  EXPECT_EQ(second.Snapshot().get(), first.Snapshot().get()) << "one copy for both";
  Bytes read(100);
  EXPECT_EQ(second.Read(read.data(), 100), 100u);
  EXPECT_EQ(read, Pattern(100));
  first.Close();
  EXPECT_EQ(second.GetLength(), 100u) << "the other's close leaves it alone";

  SnapshotImageFile failed(nullptr, "No such file or directory");
  EXPECT_FALSE(failed.Open(path));
  EXPECT_EQ(failed.LastError(), "No such file or directory");
}

}  // namespace
}  // namespace vexel::testing

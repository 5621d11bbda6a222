// The image file on Windows: writers are locked out while it is open, and
// what Open refuses.
#include <windows.h>
#include <gtest/gtest.h>

#include "loader_rig.h"
#include "winsupport/system_text.h"

namespace vexel::testing {
namespace {

HANDLE OpenForWriting(const std::string& path) {
  return ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(ImageFileWin32, WritersAreLockedOutUntilClose) {
  TempDir dir;
  const std::string path = dir.File("a.mbf", Pattern(64));
  SnapshotImageFile file;
  ASSERT_TRUE(file.Open(path));
  EXPECT_EQ(OpenForWriting(path), INVALID_HANDLE_VALUE);
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  SnapshotImageFile reader;
  EXPECT_TRUE(reader.Open(path)) << "other readers are welcome";
  reader.Close();
  file.Close();
  HANDLE writer = OpenForWriting(path);
  EXPECT_NE(writer, INVALID_HANDLE_VALUE) << "Close let writers in again";
  ::CloseHandle(writer);
}

TEST(ImageFileWin32, AFileHeldByAWriterIsRefused) {
  TempDir dir;
  const std::string path = dir.File("a.mbf", Pattern(8));
  HANDLE writer = OpenForWriting(path);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  SnapshotImageFile file;
  EXPECT_FALSE(file.Open(path));
  EXPECT_FALSE(file.LastError().empty());
  ::CloseHandle(writer);
  EXPECT_TRUE(file.Open(path));
}

TEST(ImageFileWin32, MissingFilesAndFoldersAreRefused) {
  TempDir dir;
  SnapshotImageFile file;
  EXPECT_FALSE(file.Open(dir.At("none.mbf")));
  EXPECT_FALSE(file.LastError().empty());
  EXPECT_FALSE(file.Open(dir.Path().string()));
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.GetLength(), 0u);
}

// In the user's language and in UTF-8, whatever the ANSI code page (ctest runs
// this once more in a Russian session: protocol_tests.russian).
TEST(ImageFileWin32, AMissingFileIsWordedByTheSystem) {
  TempDir dir;
  SnapshotImageFile file;
  EXPECT_FALSE(file.Open((dir.Path() / "none.mbf").string()));
  EXPECT_EQ(file.LastError(), SystemErrorText(ERROR_FILE_NOT_FOUND));
}

}  // namespace
}  // namespace vexel::testing

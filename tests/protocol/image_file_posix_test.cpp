// The image file on Linux: what Open refuses, with the OS's reasons.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "loader_rig.h"

namespace vexel::testing {
namespace {

struct RefusedCase {
  const char* name;
  std::string (*make)(const TempDir&);
  const char* reason;
};

const RefusedCase kRefused[] = {
    {"Missing", [](const TempDir& d) { return d.At("none.mbf"); }, "No such file or directory"},
    {"Directory", [](const TempDir& d) { return d.Path().string(); }, "not a regular file"},
    {"Fifo",
     [](const TempDir& d) {
       const std::string path = d.At("pipe.mbf");
       ::mkfifo(path.c_str(), 0600);
       return path;  // must not block waiting for a writer
     },
     "not a regular file"},
};

class Refused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(Refused, OpenFailsWithAReason) {
  TempDir dir;
  SnapshotImageFile file;
  EXPECT_FALSE(file.Open(GetParam().make(dir)));
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.LastError(), GetParam().reason);
}

INSTANTIATE_TEST_SUITE_P(Cases, Refused, ::testing::ValuesIn(kRefused),
                         [](const auto& p) { return std::string(p.param.name); });

// Opens @p path with the address space limited to 256 MiB; exits 0 when the
// open is refused, with the reason on stderr.
void OpenWithLittleMemory(const std::string& path) {
  rlimit limit{};
  limit.rlim_cur = limit.rlim_max = 256L << 20;
  ::setrlimit(RLIMIT_AS, &limit);
  SnapshotImageFile file;
  const bool opened = file.Open(path);
  std::fprintf(stderr, "[%s]", file.LastError().c_str());
  std::exit(opened ? 1 : 0);
}

// An image larger than the memory the process may take is refused with the
// reason, never an abort (this runs in a child with a small address space).
TEST(ImageFileDeathTest, AnImageTooLargeToHoldIsRefusedWithTheReason) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizer's shadow memory alone needs more address space than the limit";
#endif
  TempDir dir;
  const std::string path = dir.At("big.mbf");
  std::FILE* big = std::fopen(path.c_str(), "w");
  ASSERT_NE(big, nullptr);
  ASSERT_EQ(::ftruncate(::fileno(big), 1L << 30), 0);  // sparse: 1 GiB costs no disk
  std::fclose(big);
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  EXPECT_EXIT(OpenWithLittleMemory(path), ::testing::ExitedWithCode(0),
              "\\[Cannot allocate memory\\]");
}

}  // namespace
}  // namespace vexel::testing

// The image file on Linux: what Open refuses, with the OS's reasons.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "loader_rig.h"

namespace vexel::testing {
namespace {

struct RefusedCase {
  const char* name;
  std::string (*make)(const TempDir&);
  const char* reason;
};

const RefusedCase kRefused[] = {
    {"Missing", [](const TempDir& d) { return d.Path() + "/none.mbf"; },
     "No such file or directory"},
    {"Directory", [](const TempDir& d) { return d.Path(); }, "not a regular file"},
    {"Fifo",
     [](const TempDir& d) {
       const std::string path = d.Path() + "/pipe.mbf";
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

}  // namespace
}  // namespace vexel::testing

// The whole program up to the point where ports would be opened, on Linux:
// the checks that end it early, with their exact texts.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli/exit_codes.h"
#include "program_run.h"
#include "temp_dir.h"

namespace vexel::cli {
namespace {

using test::Outcome;
using test::RunWith;

// A file name in another encoding, with a newline: escaped on stderr, valid
// UTF-8 in the JSON line.
TEST(CliProgram, MissingImageWithAStrangeNameIsReportedSafely) {
  test::TempDir dir;
  const std::string folder = dir.Path().string();
  const Outcome run = RunWith({"--json", "-p", "/dev/null", folder + "/\xff\nFAKE.mbf"});
  EXPECT_EQ(run.code, kExitImageFile);
  EXPECT_EQ(run.err, "duvozeviv-cli: Unable to open file " + folder +
                         "/\\xFF\\x0AFAKE.mbf: No such file or directory\n");
  EXPECT_EQ(run.out, R"({"elapsed":0,"event":"failed","message":"Unable to open file )" + folder +
                         R"(/\\xFF\nFAKE.mbf: No such file or directory","port":null,"position":0,)"
                         R"("status":"NOT CONNECTED","total":0})"
                         "\n");
}

TEST(CliProgram, SameDeviceTwiceEscapesTheNames) {
  test::TempDir dir;
  const std::string link = (dir.Path() / "l\nFAKE").string();
  std::filesystem::create_symlink("/dev/null", link);
  const Outcome run = RunWith({"-p", "/dev/null", "-p", link, "image.mbf"});
  EXPECT_EQ(run.code, kExitUsage);
  EXPECT_EQ(run.err, "--port: /dev/null and " + dir.Path().string() +
                         "/l\\x0AFAKE are the same device /dev/null\n"
                         "Run with --help for more information.\n");
  EXPECT_EQ(run.out, "");
}

}  // namespace
}  // namespace vexel::cli

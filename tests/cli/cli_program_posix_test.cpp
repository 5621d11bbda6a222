// The whole program up to the point where ports would be opened, on Linux:
// the checks that end it early, with their exact texts.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "cli/exit_codes.h"
#include "program_run.h"
#include "support/temp_dir.h"

namespace vexel::cli {
namespace {

using test::Outcome;
using test::RunWith;

// A file name in another encoding, with a newline: escaped on stderr, valid
// UTF-8 in the JSON line.
TEST(CliProgram, MissingImageWithAStrangeNameIsReportedSafely) {
  vexel::test::TempDir dir;
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

// The image's one snapshot is taken before any port is opened: an image
// that is not there fails the whole run once, not each port.
TEST(CliProgram, ImageThatVanishedBeforeTheRunIsAnImageFileFailure) {
  vexel::test::TempDir dir;
  const std::string gone = (dir.Path() / "gone.mbf").string();
  const Outcome run = RunWith({"-p", "/dev/null", "-p", "/dev/zero", gone});
  EXPECT_EQ(run.code, kExitImageFile);
  EXPECT_EQ(run.err,
            "duvozeviv-cli: Unable to open file " + gone + ": No such file or directory\n");
  EXPECT_EQ(run.out, "");
}

TEST(CliProgram, SameDeviceTwiceEscapesTheNames) {
  vexel::test::TempDir dir;
  const std::string link = (dir.Path() / "l\nFAKE").string();
  std::filesystem::create_symlink("/dev/null", link);
  const Outcome run = RunWith({"-p", "/dev/null", "-p", link, "image.mbf"});
  EXPECT_EQ(run.code, kExitUsage);
  EXPECT_EQ(run.err, "--port: /dev/null and " + dir.Path().string() +
                         "/l\\x0AFAKE are the same device /dev/null\n"
                         "Run with --help for more information.\n");
  EXPECT_EQ(run.out, "");
}

// The audit log is a regular file or a new one: the image, a port, a
// terminal or a pipe is refused before anything is opened, let alone sent.
TEST(CliProgram, AnAuditLogThatIsNoRegularFileOrIsTheImageIsRefused) {
  vexel::test::TempDir dir;
  const std::string image = dir.Write("same.mbf", "image bytes").string();
  const std::string fifo = (dir.Path() / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const struct {
    std::string log;
    std::string reason;
  } cases[] = {
      {image, image + " is the image file " + image},
      {dir.Path().string() + "/./same.mbf",
       dir.Path().string() + "/./same.mbf is the image file " + image},
      {"/dev/null",
       "/dev/null is not a regular file: the audit log is never a port, a terminal or a pipe"},
      {fifo, fifo + " is not a regular file: the audit log is never a port, a terminal or a pipe"},
      {dir.Path().string(),
       dir.Path().string() +
           " is not a regular file: the audit log is never a port, a terminal or a pipe"},
  };
  for (const auto& c : cases) {
    const Outcome run = RunWith({"--station", "--log", c.log, "-p", "/dev/null", image});
    EXPECT_EQ(run.code, kExitUsage) << c.log;
    EXPECT_EQ(run.err, "--log: " + c.reason + "\nRun with --help for more information.\n");
    EXPECT_EQ(run.out, "");
  }
  std::ifstream kept(image, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "image bytes");
}

TEST(CliProgram, AWrongExpectedHashRefusesWithBothHashesAndTheImageClass) {
  vexel::test::TempDir dir;
  const std::string image = dir.Write("a.mbf", "abc").string();
  const std::string wrong(64, 'A');
  for (const bool station : {false, true}) {
    std::vector<std::string> args = {"--expect-sha256", wrong, "-p", "/dev/null", image};
    if (station) args.insert(args.begin(), "--station");
    const Outcome run = RunWith(args);
    EXPECT_EQ(run.code, kExitImageFile);
    EXPECT_EQ(run.err, "duvozeviv-cli: " + image +
                           " is not the expected image: its SHA-256 is "
                           "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad, "
                           "--expect-sha256 is " +
                           std::string(64, 'a') + "; nothing was sent\n");
  }
}

}  // namespace
}  // namespace vexel::cli

// The whole program up to the point where ports would be opened, on
// Windows: the checks that end it early, with their exact texts.
#include <windows.h>

#include <gtest/gtest.h>

#include "cli/exit_codes.h"
#include "program_run.h"
#include "support/temp_dir.h"
#include "winsupport/system_text.h"

namespace vexel::cli {
namespace {

using test::Outcome;
using test::RunWith;

// The arguments are UTF-8 (main converts the wide command line), and so is
// the file name the image is opened by.
TEST(CliProgramWin32, MissingImageIsReportedWithTheSystemsText) {
  vexel::test::TempDir dir;
  const std::string path = dir.Path().string() + "\\caf\xC3\xA9.mbf";
  const Outcome run = RunWith({"--json", "-p", "COM1", path});
  EXPECT_EQ(run.code, kExitImageFile);
  const std::string text = "Unable to open file " + path + ": " +
                           SystemErrorText(ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(run.err, "duvozeviv-cli: " + text + "\n");
  std::string escaped = path;
  for (size_t at = escaped.find('\\'); at != std::string::npos; at = escaped.find('\\', at + 2)) {
    escaped.insert(at, "\\");
  }
  EXPECT_EQ(run.out, R"({"elapsed":0,"event":"failed","message":"Unable to open file )" + escaped +
                         ": " + SystemErrorText(ERROR_FILE_NOT_FOUND) +
                         R"(","port":null,"position":0,"status":"NOT CONNECTED","total":0})"
                         "\n");
}

// Port names are case-blind on Windows, and \\.\COMn is COMn: two names of
// one port would open it twice.
TEST(CliProgramWin32, SamePortTwiceByAnyNameIsAUsageError) {
  const struct {
    std::string first, second, device;
  } cases[] = {
      {"COM1", "com1", "\\\\.\\COM1"},
      {"COM12", "\\\\.\\COM12", "\\\\.\\COM12"},
      {"Com3", "cOM3", "\\\\.\\COM3"},
  };
  for (const auto& c : cases) {
    const Outcome run = RunWith({"-p", c.first, "-p", "COM2", "-p", c.second, "image.mbf"});
    EXPECT_EQ(run.code, kExitUsage) << c.second;
    EXPECT_EQ(run.err, "--port: " + c.first + " and " + c.second + " are the same device " +
                           c.device + "\nRun with --help for more information.\n");
    EXPECT_EQ(run.out, "");
  }
}

// NUL is a device, not a file; the image is no log, under any spelling.
TEST(CliProgramWin32, AnAuditLogThatIsADeviceOrTheImageIsRefused) {
  vexel::test::TempDir dir;
  const std::string image = dir.Write("same.mbf", "image bytes").string();
  const std::string notAFile =
      " is not a regular file: the audit log is never a port, a terminal or a pipe";
  const struct {
    std::string log;
    std::string reason;
  } cases[] = {
      {"NUL", "NUL" + notAFile},
      {dir.Path().string(), dir.Path().string() + notAFile},
      {image, image + " is the image file " + image},
      {dir.Path().string() + "\\.\\SAME.MBF",
       dir.Path().string() + "\\.\\SAME.MBF is the image file " + image},
  };
  for (const auto& c : cases) {
    const Outcome run = RunWith({"--station", "--log", c.log, "-p", "COM1", image});
    EXPECT_EQ(run.code, kExitUsage) << c.log;
    EXPECT_EQ(run.err, "--log: " + c.reason + "\nRun with --help for more information.\n");
  }
}

}  // namespace
}  // namespace vexel::cli

#include "cli/exit_codes.h"

#include <gtest/gtest.h>

#include <string>

namespace vexel::cli {
namespace {

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

TEST(ExitCodes, EachFailureClassHasItsCode) {
  const struct {
    Failure failure;
    int code;
  } cases[] = {
      {Failure::None, 0},
      {Failure::ImageFile, 3},
      {Failure::PortOpen, 4},
      {Failure::LineFormat, 4},
      {Failure::NoConnectReply, 5},
      {Failure::NotResponding, 6},
      {Failure::InvalidResponse, 7},
      {Failure::InternalError, 7},
      {Failure::RunInProgress, 7},
      {Failure::LineLost, 9},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExitCodeFor(c.failure), c.code) << static_cast<int>(c.failure);
  }
}

TEST(ExitCodes, FirstFailingPortInCommandLineOrderWinsAndInterruptionOverrides) {
  const struct {
    std::vector<int> ports;
    bool interrupted;
    int expected;
  } cases[] = {
      {{0, 0, 0, 0}, false, 0}, {{0, 6, 0, 4}, false, 6},  // not the highest: the first in order
      {{5, 0, 7}, false, 5},    {{0, 6}, true, 130},      {{0, 0}, true, 130}, {{}, false, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CombinedExitCode(c.ports, c.interrupted), c.expected);
  }
}

TEST(ExitCodes, HelpTableListsEveryClassInOrder) {
  EXPECT_EQ(
      ExitCodeTable(),
      "    0  every port ended with MODULE LOADED\n"
      "    2  bad or missing arguments\n"
      "    3  the image file cannot be opened or read, or is not the one --expect-sha256 names\n"
      "    4  a port cannot be opened or set to 57600 8E2, or is the loader's own terminal\n"
      "    5  no connect reply within the 1 s probe window\n"
      "    6  the module stopped replying in time\n"
      "    7  invalid response from the module\n"
      "    8  the --station audit log cannot be opened or written\n"
      "    9  a port went away: adapter unplugged or driver stopped\n"
      "  130  " +
          std::string(kWindows ? "interrupted by Ctrl-C, Ctrl-Break or a closed console"
                               : "interrupted by Ctrl-C, SIGTERM or SIGHUP") +
          "; every port closed\n");
}

}  // namespace
}  // namespace vexel::cli

// The load session's platform cases on Windows: the system's error texts
// and Ctrl-C.
#include <windows.h>

#include <gtest/gtest.h>

#include "console_events.h"

#include "console_events.h"
#include "load_session_fixture.h"
#include "serial/serial_port.h"

namespace vexel::cli {
namespace {

using test::ImageOf;
using test::LoadSessionTest;

TEST_F(LoadSessionTest, PortThatCannotBeOpenedSaysWhy) {
  ExpectOpenFailures(
      "COM12",
      {
          {kErrorFileNotFound, ERROR_FILE_NOT_FOUND,
           DescribeOsError(ERROR_FILE_NOT_FOUND) +
               "; there is no such COM port here; --list-ports shows the serial ports"},
          {kErrorAccessDenied, ERROR_ACCESS_DENIED,
           DescribeOsError(ERROR_ACCESS_DENIED) + "; the port is in use by another program"},
          {kErrorAlreadyInitialized, 0, "result 1247"},
          {31, ERROR_GEN_FAILURE, DescribeOsError(ERROR_GEN_FAILURE)},
      });
}

TEST_F(LoadSessionTest, LineThatRefusesTheFormatIsClosed) {
  auto module = AddPort();
  module->lineFormatResult = ERROR_INVALID_PARAMETER;
  module->osError = ERROR_INVALID_PARAMETER;
  EXPECT_EQ(Run({"COM1"}, WriteImage(ImageOf(10))), 4);
  EXPECT_EQ(m_err.str(), "COM1: Cannot switch to 57600, E, 8 2: " +
                             DescribeOsError(ERROR_INVALID_PARAMETER) + "\n");
  EXPECT_FALSE(module->open);
}

TEST_F(LoadSessionTest, CtrlCClosesEveryPortAndEndsWith130) {
  test::EarlierConsoleHandler earlier;
  ExpectInterruptClosesEveryPort(
      [&] { EXPECT_TRUE(earlier.Send(CTRL_C_EVENT)) << "no console, error " << ::GetLastError(); });
  EXPECT_EQ(earlier.Calls(), 0) << "the loader took the Ctrl-C";
}

}  // namespace
}  // namespace vexel::cli

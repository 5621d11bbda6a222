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
  ExpectOpenFailures("COM12", {
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
  EXPECT_EQ(m_err.str(),
            "COM1: Cannot switch to 57600, E, 8 2: " + DescribeOsError(ERROR_INVALID_PARAMETER) + "\n");
  EXPECT_FALSE(module->open);
}

TEST_F(LoadSessionTest, CtrlCClosesEveryPortAndEndsWith130) {
  test::EarlierConsoleHandler earlier;
  auto a = AddPort("delay:60000@2");
  auto b = AddPort();
  bool raised = false;
  const int code = Run({"A", "B"}, WriteImage(ImageOf(300)), false, [&](const PortEvent& event) {
    if (event.port == 0 && event.kind == PortEventKind::Status && !raised) {
      raised = true;
      EXPECT_TRUE(a->open);
      EXPECT_TRUE(earlier.Send(CTRL_C_EVENT)) << "no console, error " << ::GetLastError();
      EXPECT_TRUE(a->open);  // handled on the event loop: nothing happens here
    }
  });
  EXPECT_EQ(code, 130);
  EXPECT_FALSE(a->open);
  EXPECT_FALSE(b->open);
  EXPECT_EQ(m_results[0].outcome, "interrupted");
  EXPECT_EQ(m_results[0].exitCode, 130);
  EXPECT_EQ(earlier.Calls(), 0) << "the loader took the Ctrl-C";
}

}  // namespace
}  // namespace vexel::cli

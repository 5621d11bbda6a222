// The event loop's interrupts on Windows: console control events.
#include <windows.h>

#include <gtest/gtest.h>

#include "console_events.h"

#include <string>
#include <vector>

#include "event_loop_fixture.h"

namespace vexel::cli {
namespace {

using test::EventLoopTest;

// A control event reaches the loop as a call on the loop's thread, and
// after the first the earlier handling is back. Empty, or why the event
// could not be sent.
std::string CheckControlEvent(EventLoopTest& test, EventLoop& loop, DWORD event) {
  test::EarlierConsoleHandler earlier;
  for (int round = 0; round < 2; ++round) {
    std::vector<int> got;
    const DWORD loopThread = ::GetCurrentThreadId();
    DWORD calledOn = 0;
    EXPECT_TRUE(loop.CatchInterrupts([&](int e) {
      got.push_back(e);
      calledOn = ::GetCurrentThreadId();
    }));
    const int earlierCalls = earlier.Calls();
    if (!earlier.Send(event)) return "error " + std::to_string(::GetLastError());
    EXPECT_TRUE(test.RunUntil([&] { return !got.empty(); }));
    EXPECT_EQ(got, std::vector<int>{static_cast<int>(event)});
    EXPECT_EQ(calledOn, loopThread);
    EXPECT_EQ(earlier.Calls(), earlierCalls) << "the loop took the first event";

    EXPECT_TRUE(earlier.Send(event));
    EXPECT_TRUE(test.RunUntil([&] { return earlier.Calls() > earlierCalls; }));
    EXPECT_EQ(got.size(), 1u) << "the second event went to the earlier handling";
    loop.ReleaseInterrupts();
  }
  return {};
}

TEST_F(EventLoopTest, CtrlCArrivesOnTheLoopAndTheOldHandlingReturns) {
  const std::string notSent = CheckControlEvent(*this, *m_loop, CTRL_C_EVENT);
  EXPECT_EQ(notSent, "");
}

TEST_F(EventLoopTest, CtrlBreakArrivesOnTheLoopAndTheOldHandlingReturns) {
  const std::string notSent = CheckControlEvent(*this, *m_loop, CTRL_BREAK_EVENT);
  // Wine 8 sends only Ctrl-C to a console's processes (GenerateConsoleCtrlEvent
  // fails with error 6 for Ctrl-Break).
  if (!notSent.empty()) GTEST_SKIP() << "this system cannot send Ctrl-Break: " << notSent;
}

}  // namespace
}  // namespace vexel::cli

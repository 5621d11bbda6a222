// The event loop's interrupts on Linux: signals.
#include <gtest/gtest.h>

#include <csignal>
#include <vector>

#include "event_loop_fixture.h"

namespace vexel::cli {
namespace {

using test::EventLoopTest;

// SIGINT, SIGTERM and SIGHUP each reach the loop as a call, and after the
// first the previous handling is back.
TEST_F(EventLoopTest, InterruptsArriveOnTheLoopAndTheOldHandlingReturns) {
  for (int signo : {SIGINT, SIGTERM, SIGHUP}) {
    std::vector<int> got;
    ASSERT_TRUE(m_loop->CatchInterrupts([&](int s) { got.push_back(s); }));
    ::raise(signo);
    EXPECT_TRUE(got.empty()) << "handled on the loop, not in the handler";
    ASSERT_TRUE(RunUntil([&] { return !got.empty(); }));
    EXPECT_EQ(got, std::vector<int>{signo});
    struct sigaction now {};
    ::sigaction(signo, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
    m_loop->ReleaseInterrupts();
  }
}

}  // namespace
}  // namespace vexel::cli

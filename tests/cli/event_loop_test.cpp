// The loader's event loop, with eventfds standing in for the lines' wait
// handles: who is called, how often, removal from inside a handler, timers
// on the monotonic clock, calls posted from other threads, and interrupts.
#include "cli/event_loop.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace vexel::cli {
namespace {

using Clock = EventLoop::Clock;
using namespace std::chrono_literals;

class Handle {
 public:
  Handle() : m_fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
  ~Handle() { ::close(m_fd); }
  intptr_t Fd() const { return m_fd; }
  void Signal() const {
    const uint64_t one = 1;
    ASSERT_EQ(::write(m_fd, &one, sizeof one), static_cast<ssize_t>(sizeof one));
  }
  void Take() const {
    uint64_t value = 0;
    (void)::read(m_fd, &value, sizeof value);
  }

 private:
  int m_fd;
};

class EventLoopTest : public ::testing::Test {
 protected:
  // Runs the loop until done() holds after a callback, or a generous deadline.
  bool RunUntil(const std::function<bool()>& done) {
    const auto deadline = m_loop->StartTimer(Clock::now() + 10s, [this] { m_loop->Quit(); });
    std::function<void()> check = [&] {
      if (done()) return m_loop->Quit();
      m_loop->StartTimer(Clock::now() + 1ms, check);
    };
    m_loop->Post(check);
    m_loop->Run();
    m_loop->StopTimer(deadline);
    return done();
  }

  std::unique_ptr<EventLoop> m_loop = EventLoop::Create();
};

TEST_F(EventLoopTest, EachSignalledHandleIsServedUntilItsOwnerTakesTheSignal) {
  Handle a, b;
  std::vector<std::string> calls;
  int aLeftSignalled = 2;  // a's owner takes the signal only on the third call
  ASSERT_EQ(m_loop->Watch(a.Fd(), [&] {
    calls.push_back("a");
    if (--aLeftSignalled < 0) a.Take();
  }), 0);
  ASSERT_EQ(m_loop->Watch(b.Fd(), [&] { calls.push_back("b"); b.Take(); }), 0);
  a.Signal();
  b.Signal();
  ASSERT_TRUE(RunUntil([&] { return calls.size() >= 4; }));
  RunUntil([] { return true; });  // one more round: nothing left signalled
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "a"), 3) << "level-triggered: served until taken";
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "b"), 1);
}

TEST_F(EventLoopTest, AHandlerMayRemoveItselfAndOthersInTheSameBatch) {
  Handle a, b;
  std::vector<std::string> calls;
  auto both = [&](const char* name) {
    calls.push_back(name);
    m_loop->Unwatch(a.Fd());
    m_loop->Unwatch(b.Fd());
  };
  ASSERT_EQ(m_loop->Watch(a.Fd(), [&] { both("a"); }), 0);
  ASSERT_EQ(m_loop->Watch(b.Fd(), [&] { both("b"); }), 0);
  a.Signal();
  b.Signal();
  ASSERT_TRUE(RunUntil([&] { return !calls.empty(); }));
  for (int i = 0; i < 5; ++i) RunUntil([] { return true; });
  EXPECT_EQ(calls.size(), 1u) << "the first handler removed both; the other is never called";
  m_loop->Unwatch(a.Fd());  // removing twice is fine
}

TEST_F(EventLoopTest, AHandleThatCannotBeWatchedGivesItsOsError) {
  EXPECT_EQ(m_loop->Watch(-1, [] {}), EBADF);
  Handle a;
  ASSERT_EQ(m_loop->Watch(a.Fd(), [] {}), 0);
  EXPECT_EQ(m_loop->Watch(a.Fd(), [] {}), EEXIST);
}

TEST_F(EventLoopTest, TimersComeInDeadlineOrderNeverEarlyAndAStoppedOneNever) {
  std::vector<int> fired;
  std::vector<Clock::duration> late;
  const auto start = Clock::now();
  for (int ms : {30, 10, 20}) {
    m_loop->StartTimer(start + std::chrono::milliseconds(ms), [&, ms] {
      fired.push_back(ms);
      late.push_back(Clock::now() - (start + std::chrono::milliseconds(ms)));
    });
  }
  const auto stopped = m_loop->StartTimer(start + 5ms, [&] { fired.push_back(5); });
  m_loop->StopTimer(stopped);
  m_loop->StopTimer(stopped);  // twice is fine
  ASSERT_TRUE(RunUntil([&] { return fired.size() >= 3; }));
  EXPECT_EQ(fired, (std::vector<int>{10, 20, 30}));
  for (const auto& delay : late) EXPECT_GE(delay, Clock::duration::zero());
}

TEST_F(EventLoopTest, CallsPostedFromOtherThreadsRunOnTheLoopInOrder) {
  const auto loopThread = std::this_thread::get_id();
  std::vector<int> order;
  bool onLoopThread = true;
  std::thread poster([&] {
    for (int i = 0; i < 100; ++i) {
      m_loop->Post([&, i] {
        order.push_back(i);
        onLoopThread = onLoopThread && std::this_thread::get_id() == loopThread;
      });
    }
  });
  ASSERT_TRUE(RunUntil([&] { return order.size() == 100; }));
  poster.join();
  for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
  EXPECT_TRUE(onLoopThread);
}

TEST_F(EventLoopTest, AQuitBeforeRunReturnsAtOnceAndOnlyOnce) {
  m_loop->Quit();
  m_loop->Run();  // returns at once
  bool ran = false;
  m_loop->Post([&] { ran = true; m_loop->Quit(); });
  m_loop->Run();
  EXPECT_TRUE(ran) << "the earlier Quit was used up";
}

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

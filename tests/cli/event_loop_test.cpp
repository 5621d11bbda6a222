// The loader's event loop, with eventfds standing in for the lines' wait
// handles: who is called, how often, removal from inside a handler, timers
// on the monotonic clock, calls posted from other threads, and interrupts.
#include "loop/event_loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "event_loop_fixture.h"
#include "wait_handle.h"

namespace vexel::cli {
namespace {

using Handle = test::TestWaitHandle;
using test::EventLoopTest;
using namespace std::chrono_literals;

TEST_F(EventLoopTest, EachSignalledHandleIsServedUntilItsOwnerTakesTheSignal) {
  Handle a, b;
  std::vector<std::string> calls;
  int aLeftSignalled = 2;  // a's owner takes the signal only on the third call
  ASSERT_EQ(m_loop->Watch(a.Get(),
                          [&] {
                            calls.push_back("a");
                            if (--aLeftSignalled < 0) a.Take();
                          }),
            0);
  ASSERT_EQ(m_loop->Watch(b.Get(),
                          [&] {
                            calls.push_back("b");
                            b.Take();
                          }),
            0);
  a.Signal();
  b.Signal();
  ASSERT_TRUE(RunUntil([&] { return calls.size() >= 4; }));
  RunUntil([] { return true; });  // one more round: nothing left signalled
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "a"), 3)
      << "level-triggered: served until taken";
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "b"), 1);
}

TEST_F(EventLoopTest, AHandlerMayRemoveItselfAndOthersInTheSameBatch) {
  Handle a, b;
  std::vector<std::string> calls;
  auto both = [&](const char* name) {
    calls.push_back(name);
    m_loop->Unwatch(a.Get());
    m_loop->Unwatch(b.Get());
  };
  ASSERT_EQ(m_loop->Watch(a.Get(), [&] { both("a"); }), 0);
  ASSERT_EQ(m_loop->Watch(b.Get(), [&] { both("b"); }), 0);
  a.Signal();
  b.Signal();
  ASSERT_TRUE(RunUntil([&] { return !calls.empty(); }));
  for (int i = 0; i < 5; ++i) RunUntil([] { return true; });
  EXPECT_EQ(calls.size(), 1u) << "the first handler removed both; the other is never called";
  m_loop->Unwatch(a.Get());  // removing twice is fine
}

TEST_F(EventLoopTest, AHandleThatCannotBeWatchedGivesItsOsError) {
  EXPECT_EQ(m_loop->Watch(test::kNoHandle, [] {}), test::kNoHandleError);
  Handle a;
  ASSERT_EQ(m_loop->Watch(a.Get(), [] {}), 0);
  EXPECT_EQ(m_loop->Watch(a.Get(), [] {}), test::kWatchedTwiceError);
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

// On a clock that jumps, hours pass at once: each timer comes at its very
// deadline, in order, and a timer started by another for "later" waits its
// turn as it would on the monotonic clock.
TEST(EventLoopOnAJumpingClock, RunsEveryTimerAtItsDeadlineInOrder) {
  JumpingClock clock;
  auto loop = EventLoop::Create(clock);
  const auto start = loop->Now();
  std::vector<std::pair<int, EventLoop::Clock::duration>> fired;
  for (int minutes : {90, 30, 60}) {
    loop->StartTimer(start + std::chrono::minutes(minutes), [&, minutes] {
      fired.emplace_back(minutes, loop->Now() - start);
      if (minutes == 30) {
        loop->StartTimer(loop->Now() + 45min, [&] { fired.emplace_back(75, loop->Now() - start); });
      }
      if (minutes == 90) loop->Quit();
    });
  }
  loop->Run();
  const std::vector<std::pair<int, EventLoop::Clock::duration>> expected = {
      {30, 30min}, {60, 60min}, {75, 75min}, {90, 90min}};
  EXPECT_EQ(fired, expected);
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
  m_loop->Post([&] {
    ran = true;
    m_loop->Quit();
  });
  m_loop->Run();
  EXPECT_TRUE(ran) << "the earlier Quit was used up";
}

}  // namespace
}  // namespace vexel::cli

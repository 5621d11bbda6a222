// The port's controller timers: never early however often they are
// restarted, repeating until stopped, silent once stopped. The loop runs on
// a clock that jumps to its next timer, so each comes at its very deadline.
#include "loop/deadline_timers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace vexel::cli {
namespace {

using Clock = EventLoop::Clock;
using Ms = std::chrono::milliseconds;

struct Fired {
  uint32_t id;
  int64_t atMs;
};

class DeadlineTimersTest : public ::testing::Test {
 protected:
  int64_t ElapsedMs() const {
    return std::chrono::duration_cast<Ms>(m_loop->Now() - m_start).count();
  }
  // Runs the loop until done() or a generous deadline.
  bool RunUntil(const std::function<bool()>& done) {
    const auto deadline = m_loop->Now() + std::chrono::seconds(10);
    while (!done() && m_loop->Now() < deadline) RunFor(10);
    return done();
  }
  void RunFor(int ms) {
    m_loop->StartTimer(m_loop->Now() + Ms(ms), [this] { m_loop->Quit(); });
    m_loop->Run();
  }

  JumpingClock m_clock;
  std::unique_ptr<EventLoop> m_loop = EventLoop::Create(m_clock);
  Clock::time_point m_start = m_loop->Now();
  std::vector<Fired> m_fired;
  DeadlineTimers m_timers{*m_loop, [this](uint32_t id) { m_fired.push_back({id, ElapsedMs()}); }};
};

// The reply time-out is restarted for every chunk; it may only come a whole
// interval after the last restart.
TEST_F(DeadlineTimersTest, RestartsMoveTheDeadlineAndItIsNeverEarly) {
  for (int i = 0; i < 8; ++i) {
    m_timers.Start(7, 300);
    RunFor(20);
    ASSERT_TRUE(m_fired.empty()) << "restarted every 20 ms, a 300 ms timer must not come";
  }
  const int64_t lastStart = ElapsedMs();
  m_timers.Start(7, 300);
  ASSERT_TRUE(RunUntil([&] { return !m_fired.empty(); }));
  EXPECT_EQ(m_fired[0].id, 7u);
  EXPECT_EQ(m_fired[0].atMs - lastStart, 300);
}

TEST_F(DeadlineTimersTest, RepeatsUntilStoppedAndAStoppedTimerStaysSilent) {
  m_timers.Start(1, 20);
  m_timers.Start(2, 30);
  m_timers.Stop(2);
  EXPECT_FALSE(m_timers.IsActive(2));
  ASSERT_TRUE(RunUntil([&] { return m_fired.size() >= 3; }));
  m_timers.Stop(1);
  const size_t count = m_fired.size();
  RunFor(80);
  EXPECT_EQ(m_fired.size(), count) << "nothing after Stop";
  for (const Fired& fired : m_fired) EXPECT_EQ(fired.id, 1u);
  for (size_t i = 1; i < m_fired.size(); ++i) EXPECT_EQ(m_fired[i].atMs - m_fired[i - 1].atMs, 20);
}

TEST_F(DeadlineTimersTest, ANewIntervalAndStopAllTakeEffect) {
  m_timers.Start(3, 5000);
  m_timers.Start(3, 20);  // shorter: must not wait for the 5 s one
  ASSERT_TRUE(RunUntil([&] { return !m_fired.empty(); }));
  EXPECT_EQ(m_fired[0].atMs, 20);
  m_timers.Start(4, 20);
  m_timers.StopAll();
  EXPECT_FALSE(m_timers.IsActive(3));
  const size_t count = m_fired.size();
  RunFor(60);
  EXPECT_EQ(m_fired.size(), count);
}

}  // namespace
}  // namespace vexel::cli

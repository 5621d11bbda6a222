// The time the loader's event loop runs on. Programs use the monotonic
// clock and really wait; tests may give the loop a clock of their own that
// moves forward whenever the loop would wait, so that probe periods, dwell
// times and time-outs pass at once and in the same order as they would.
#pragma once

#include <chrono>

namespace vexel::cli {

class LoopClock {
 public:
  using Base = std::chrono::steady_clock;
  using TimePoint = Base::time_point;
  using Duration = Base::duration;
  /// What Idle is given when the loop waits for no timer at all.
  static constexpr Duration kNoTimer = Duration::max();

  virtual ~LoopClock() = default;

  virtual TimePoint Now() const = 0;
  /// The loop has nothing ready and its next timer is @p untilNextTimer
  /// away (kNoTimer: none). Returns how long the loop is to block waiting
  /// for a handle or a posted call: the monotonic clock blocks the whole
  /// span; a clock that jumps moves itself to the timer and blocks for
  /// nothing.
  virtual Duration Idle(Duration untilNextTimer) = 0;

  /// The monotonic clock, shared by every loop that is given no other.
  static LoopClock& Steady();
};

/// A clock that stands still until the loop would wait, then jumps to the
/// next timer. It fits loops whose events all come from their own timers
/// and from calls posted on the loop's thread; a loop that waits for
/// another thread blocks for it in real time, with the clock standing.
class JumpingClock final : public LoopClock {
 public:
  TimePoint Now() const override { return m_now; }
  Duration Idle(Duration untilNextTimer) override;
  /// Moves the clock on by @p span without running anything.
  void Advance(Duration span) { m_now += span; }

 private:
  TimePoint m_now = Base::now();
};

}  // namespace vexel::cli

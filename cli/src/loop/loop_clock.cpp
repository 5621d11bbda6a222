#include "loop/loop_clock.h"

namespace vexel::cli {
namespace {

class SteadyClock final : public LoopClock {
 public:
  TimePoint Now() const override { return Base::now(); }
  Duration Idle(Duration untilNextTimer) override { return untilNextTimer; }
};

}  // namespace

LoopClock& LoopClock::Steady() {
  static SteadyClock clock;
  return clock;
}

LoopClock::Duration JumpingClock::Idle(Duration untilNextTimer) {
  if (untilNextTimer == kNoTimer) return kNoTimer;
  if (untilNextTimer > Duration::zero()) m_now += untilNextTimer;
  return Duration::zero();
}

}  // namespace vexel::cli

#include "cli/deadline_timers.h"

#include <QTimerEvent>

namespace vexel::cli {
namespace {

constexpr qint64 kNsPerMs = 1000000;

}  // namespace

DeadlineTimers::DeadlineTimers(std::function<void(uint32_t id)> fire) : m_fire(std::move(fire)) {
  m_clock.start();
}

void DeadlineTimers::Arm(Timer& timer, int ms) {
  timer.loop.start(ms, Qt::PreciseTimer, this);
  timer.loopMs = ms;
}

void DeadlineTimers::Start(uint32_t id, uint32_t ms) {
  Timer& timer = m_timers[id];
  timer.active = true;
  timer.ms = ms;
  timer.dueNs = m_clock.nsecsElapsed() + qint64{ms} * kNsPerMs;
  // A loop timer still running with this interval comes no later than the
  // new deadline; it is set again for the rest when it comes.
  if (!timer.loop.isActive() || timer.loopMs != static_cast<int>(ms)) {
    Arm(timer, static_cast<int>(ms));
  }
}

void DeadlineTimers::Stop(uint32_t id) {
  auto it = m_timers.find(id);
  if (it != m_timers.end()) it->second.active = false;
}

void DeadlineTimers::StopAll() {
  for (auto& entry : m_timers) {
    entry.second.active = false;
    entry.second.loop.stop();
  }
}

bool DeadlineTimers::IsActive(uint32_t id) const {
  auto it = m_timers.find(id);
  return it != m_timers.end() && it->second.active;
}

void DeadlineTimers::timerEvent(QTimerEvent* event) {
  for (auto& [id, timer] : m_timers) {
    if (timer.loop.timerId() != event->timerId()) continue;
    if (!timer.active) return timer.loop.stop();
    const qint64 now = m_clock.nsecsElapsed();
    if (now < timer.dueNs) {
      return Arm(timer, static_cast<int>((timer.dueNs - now + kNsPerMs - 1) / kNsPerMs));
    }
    timer.dueNs = now + qint64{timer.ms} * kNsPerMs;
    if (timer.loopMs != static_cast<int>(timer.ms)) Arm(timer, static_cast<int>(timer.ms));
    return m_fire(id);  // entries stay put, whatever the handler starts or stops
  }
}

}  // namespace vexel::cli

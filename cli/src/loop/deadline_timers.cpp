#include "loop/deadline_timers.h"

namespace vexel::cli {

DeadlineTimers::DeadlineTimers(EventLoop& loop, std::function<void(uint32_t id)> fire)
    : m_loop(loop), m_fire(std::move(fire)) {}

DeadlineTimers::~DeadlineTimers() { StopAll(); }

void DeadlineTimers::Arm(uint32_t id, Timer& timer, Clock::time_point at) {
  if (timer.armed != 0) m_loop.StopTimer(timer.armed);
  timer.armed = m_loop.StartTimer(at, [this, id] { OnLoopTimer(id); });
  timer.armedFor = at;
}

void DeadlineTimers::Start(uint32_t id, uint32_t ms) {
  Timer& timer = m_timers[id];
  timer.active = true;
  timer.ms = ms;
  timer.due = m_loop.Now() + std::chrono::milliseconds(ms);
  // A loop timer still running that comes no later than the new deadline is
  // kept; it is set again for the rest when it comes.
  if (timer.armed == 0 || timer.armedFor > timer.due) Arm(id, timer, timer.due);
}

void DeadlineTimers::Stop(uint32_t id) {
  auto it = m_timers.find(id);
  if (it != m_timers.end()) it->second.active = false;
}

void DeadlineTimers::StopAll() {
  for (auto& entry : m_timers) {
    entry.second.active = false;
    if (entry.second.armed != 0) m_loop.StopTimer(entry.second.armed);
    entry.second.armed = 0;
  }
}

bool DeadlineTimers::IsActive(uint32_t id) const {
  auto it = m_timers.find(id);
  return it != m_timers.end() && it->second.active;
}

void DeadlineTimers::OnLoopTimer(uint32_t id) {
  Timer& timer = m_timers[id];  // entries stay put, whatever the handler starts or stops
  timer.armed = 0;
  if (!timer.active) return;
  const Clock::time_point now = m_loop.Now();
  if (now < timer.due) return Arm(id, timer, timer.due);
  timer.due = now + std::chrono::milliseconds(timer.ms);
  Arm(id, timer, timer.due);
  m_fire(id);
}

}  // namespace vexel::cli

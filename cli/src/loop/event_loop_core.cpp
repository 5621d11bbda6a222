#include "loop/event_loop_core.h"

#include <algorithm>

namespace vexel::cli {

EventLoop::TimerId EventLoopCore::StartTimer(Clock::time_point due, Callback onDue) {
  const TimerId id = m_nextTimer++;
  m_timers.emplace(id, std::make_pair(due, std::move(onDue)));
  m_due.emplace(due, id);
  return id;
}

void EventLoopCore::StopTimer(TimerId id) {
  auto it = m_timers.find(id);
  if (it == m_timers.end()) return;
  m_due.erase({it->second.first, id});
  m_timers.erase(it);
}

void EventLoopCore::Post(Callback call) {
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(m_postMutex);
    m_posted.push_back(std::move(call));
    wake = !m_wakePending;
    m_wakePending = true;
  }
  if (wake) WakeUp();
}

void EventLoopCore::WakeUpTaken() {
  std::lock_guard<std::mutex> lock(m_postMutex);
  m_wakePending = false;
}

bool EventLoopCore::HasPosted() {
  std::lock_guard<std::mutex> lock(m_postMutex);
  return !m_posted.empty();
}

void EventLoopCore::RunPosted() {
  std::vector<Callback> calls;
  {
    std::lock_guard<std::mutex> lock(m_postMutex);
    calls.swap(m_posted);
  }
  for (auto& call : calls) call();
}

void EventLoopCore::Run() {
  while (!m_quit) {
    RunPosted();
    if (!m_quit) RunDueTimers();
    if (!m_quit) WaitAndDispatch(HasPosted() ? 0 : WaitMs());
  }
  m_quit = false;
}

// Timers that a callback starts for "now" wait for the next round, so that
// a timer restarting itself cannot keep the loop from its handles.
void EventLoopCore::RunDueTimers() {
  const Clock::time_point now = Now();
  const TimerId firstNew = m_nextTimer;
  while (!m_quit && !m_due.empty() && m_due.begin()->first <= now &&
         m_due.begin()->second < firstNew) {
    const TimerId id = m_due.begin()->second;
    m_due.erase(m_due.begin());
    auto it = m_timers.find(id);
    Callback onDue = std::move(it->second.second);
    m_timers.erase(it);
    onDue();
  }
}

int EventLoopCore::WaitMs() {
  auto left = LoopClock::kNoTimer;
  if (!m_due.empty()) left = std::max(m_due.begin()->first - Now(), Clock::duration::zero());
  left = m_clock.Idle(left);
  if (left == LoopClock::kNoTimer) return -1;
  if (left <= Clock::duration::zero()) return 0;
  // Rounded up: a wait that ends early would only spin once more.
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(ms);
}

uint64_t EventLoopCore::AddHandler(WaitHandle handle, Callback onSignalled) {
  const uint64_t key = m_nextKey++;
  m_handlers.emplace(key, std::make_shared<Callback>(std::move(onSignalled)));
  m_keys[handle] = key;
  return key;
}

uint64_t EventLoopCore::RemoveHandler(WaitHandle handle) {
  auto it = m_keys.find(handle);
  if (it == m_keys.end()) return 0;
  const uint64_t key = it->second;
  m_handlers.erase(key);
  m_keys.erase(it);
  return key;
}

void EventLoopCore::CallHandler(uint64_t key) {
  auto it = m_handlers.find(key);
  if (it == m_handlers.end()) return;
  const std::shared_ptr<Callback> handler = it->second;
  (*handler)();
}

std::vector<std::pair<WaitHandle, uint64_t>> EventLoopCore::Watched() const {
  std::vector<std::pair<WaitHandle, uint64_t>> watched(m_keys.begin(), m_keys.end());
  return watched;
}

}  // namespace vexel::cli

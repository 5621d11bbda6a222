#include "support/real_time_host.h"

#include <algorithm>

#include "serial/serial_wnd.h"

namespace vexel::test {

bool RealTimeHost::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const Clock::time_point deadline = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() >= deadline) return false;
    WaitForInput(NextDue(deadline));
    FireDueTimers();
  }
  return true;
}

// Waits for a notification or the next timer, then hands the notifications
// to the controller outside the lock, as a window's message loop would.
void RealTimeHost::WaitForInput(Clock::time_point until) {
  std::deque<uint32_t> events;
  {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake.wait_until(lock, until, [this] { return !m_events.empty(); });
    events.swap(m_events);
  }
  for (uint32_t wParam : events) m_controller->HandleLineEvent(wParam & 0xFFFF);
}

// Host timers repeat until stopped; the controller stops each in its handler.
void RealTimeHost::FireDueTimers() {
  const Clock::time_point now = Clock::now();
  std::vector<uint32_t> due;
  for (const auto& [id, timer] : m_timers) {
    if (timer.due <= now) due.push_back(id);
  }
  for (uint32_t id : due) {
    auto it = m_timers.find(id);
    if (it == m_timers.end()) continue;  // stopped by an earlier handler
    it->second.due += it->second.interval;
    m_controller->HandleTimer(id);
  }
}

RealTimeHost::Clock::time_point RealTimeHost::NextDue(Clock::time_point limit) const {
  Clock::time_point next = limit;
  for (const auto& entry : m_timers) next = std::min(next, entry.second.due);
  return next;
}

std::vector<std::string> RealTimeHost::Entries(const std::string& prefix) const {
  std::vector<std::string> entries;
  for (const std::string& entry : m_log) {
    if (entry.rfind(prefix, 0) == 0) entries.push_back(entry.substr(prefix.size()));
  }
  return entries;
}

std::string RealTimeHost::GetPortName() {
  return m_portName.empty() ? ControllerHost::GetPortName() : m_portName;
}

void RealTimeHost::ShowConnected() {
  m_status = text::kConnected;
  m_connectedAt = Clock::now();
  m_log.push_back(m_status);
}

void RealTimeHost::ShowDisconnected() {
  m_status = text::kNotConnected;
  m_log.push_back(m_status);
}

void RealTimeHost::ShowStatus(const std::string& text) {
  m_status = text;
  m_log.push_back("status " + text);
}

void RealTimeHost::ShowMessage(const std::string& text) { m_log.push_back("message " + text); }

void RealTimeHost::StartTimer(uint32_t id, uint32_t ms) {
  m_timers[id] = {std::chrono::milliseconds(ms), Clock::now() + std::chrono::milliseconds(ms)};
}

void RealTimeHost::StopTimer(uint32_t id) { m_timers.erase(id); }

void RealTimeHost::OpenProgress(uint32_t range) {
  m_log.push_back("progress open " + std::to_string(range));
}

void RealTimeHost::SetProgress(uint32_t position) {
  m_log.push_back("progress " + std::to_string(position));
}

void RealTimeHost::CloseProgress() { m_log.push_back("progress close"); }

void RealTimeHost::PostComMessage(uint32_t message, uint32_t wParam, intptr_t) {
  if (message != DefaultComMessage) return;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_events.push_back(wParam);
  }
  m_wake.notify_one();
}

}  // namespace vexel::test

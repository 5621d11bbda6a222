#include "sim/virtual_clock.h"

namespace vexel::sim {

VirtualClock::Handle VirtualClock::Schedule(uint64_t delayMs, Callback callback) {
  const Handle handle = m_next++;
  m_queue.emplace(Key{m_now + delayMs, handle}, std::move(callback));
  m_due.emplace(handle, m_now + delayMs);
  return handle;
}

void VirtualClock::Cancel(Handle handle) {
  const auto due = m_due.find(handle);
  if (due == m_due.end()) return;
  m_queue.erase(Key{due->second, handle});
  m_due.erase(due);
}

bool VirtualClock::RunNext() {
  if (m_queue.empty()) return false;
  auto first = m_queue.begin();
  m_now = first->first.first;
  Callback callback = std::move(first->second);
  m_due.erase(first->first.second);
  m_queue.erase(first);
  callback();  // may schedule or cancel further callbacks
  return true;
}

void VirtualClock::AdvanceBy(uint64_t ms) {
  const uint64_t end = m_now + ms;
  while (!m_queue.empty() && m_queue.begin()->first.first <= end) RunNext();
  m_now = end;
}

}  // namespace vexel::sim

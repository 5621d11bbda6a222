#include "action_queue.h"

#include <algorithm>
#include <utility>

namespace vexel::sim {

void ActionQueue::Schedule(int64_t atNs, Action action) {
  m_actions.emplace(atNs, std::move(action));
}

bool ActionQueue::TakeDue(int64_t nowNs, Action& action, int64_t& dueNs) {
  if (m_actions.empty() || m_actions.begin()->first > nowNs) return false;
  dueNs = m_actions.begin()->first;
  action = std::move(m_actions.begin()->second);
  m_actions.erase(m_actions.begin());
  return true;
}

std::optional<int64_t> ActionQueue::NextDue() const {
  if (m_actions.empty()) return std::nullopt;
  return m_actions.begin()->first;
}

bool ActionQueue::HoldsOtherThan(ActionKind kind) const {
  return std::any_of(m_actions.begin(), m_actions.end(),
                     [kind](const auto& entry) { return entry.second.kind != kind; });
}

}  // namespace vexel::sim

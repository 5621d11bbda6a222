// What the simulator program's event loop does next, by due time: consume
// what the loader wrote, transmit and write replies, release an adapter's
// packet, hang up, look at the line again, attach the next module.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace vexel::sim {

enum class ActionKind { Consume, Transmit, Write, Release, HangUp, CheckLine, Wake, Attach };

struct Action {
  ActionKind kind;
  std::vector<uint8_t> bytes;  ///< Consume: what was received; Transmit, Write: the reply
  bool hangUp = false;         ///< Transmit: the line goes away instead of a reply
};

/// Actions by their due time on the monotonic clock, in nanoseconds.
class ActionQueue {
 public:
  /// Adds @p action due at @p atNs; actions due at the same time run in the
  /// order they were added.
  void Schedule(int64_t atNs, Action action);
  /// Takes the earliest action due at or before @p nowNs, with its due time;
  /// false when none is due yet.
  bool TakeDue(int64_t nowNs, Action& action, int64_t& dueNs);
  /// The due time of the earliest action; none when the queue is empty.
  std::optional<int64_t> NextDue() const;
  /// Whether an action of another kind than @p kind is queued.
  bool HoldsOtherThan(ActionKind kind) const;

 private:
  std::multimap<int64_t, Action> m_actions;  // equal times keep their order
};

}  // namespace vexel::sim

// Virtual time for tests, demonstrations and benchmarks: callbacks scheduled
// in milliseconds run only when the owner advances the clock.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <utility>

namespace vexel::sim {

class VirtualClock {
 public:
  using Callback = std::function<void()>;
  using Handle = uint64_t;

  uint64_t Now() const { return m_now; }
  /// Runs @p callback at Now() + @p delayMs; callbacks due at the same time
  /// run in the order they were scheduled.
  Handle Schedule(uint64_t delayMs, Callback callback);
  /// Forgets a scheduled callback; unknown handles are ignored.
  void Cancel(Handle handle);
  /// Runs every callback due up to Now() + @p ms, in time order, moving
  /// Now() to each one's time, then sets Now() to the end of the span.
  void AdvanceBy(uint64_t ms);
  /// Runs what is due now (zero-delay work such as posted notifications).
  void RunDue() { AdvanceBy(0); }
  /// Moves to the next scheduled callback and runs it; false when none.
  bool RunNext();
  bool Idle() const { return m_queue.empty(); }
  /// Time of the next callback; only meaningful when !Idle().
  uint64_t NextTime() const { return m_queue.begin()->first.first; }

 private:
  using Key = std::pair<uint64_t, Handle>;  // due time, then scheduling order
  std::map<Key, Callback> m_queue;
  std::map<Handle, uint64_t> m_due;
  uint64_t m_now = 0;
  Handle m_next = 1;
};

}  // namespace vexel::sim

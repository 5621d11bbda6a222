// The event loop's watch on the lines' wait handles. Shared: the handles sit
// in a single epoll set and the loop watches only that set, so with many
// ports it polls one descriptor per wake-up instead of one per port. Direct:
// the loop watches each handle itself, which spares a single port a level of
// epoll nesting (a few microseconds per reply on a virtual machine).
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <cstdint>
#include <functional>
#include <map>

namespace vexel::cli {

class LineWatchSet final : public QObject {
 public:
  enum class Mode { Direct, Shared };
  explicit LineWatchSet(Mode mode);
  ~LineWatchSet() override;
  LineWatchSet(const LineWatchSet&) = delete;
  LineWatchSet& operator=(const LineWatchSet&) = delete;

  /// Calls @p onSignalled on the loop's thread whenever @p handle polls
  /// readable. Returns 0, or the errno that keeps it from watching the handle
  /// (also when the set itself could not be made).
  int Add(intptr_t handle, std::function<void()> onSignalled);
  /// Stops watching @p handle; must come before the handle is closed. Safe
  /// from inside any handler, its own included.
  void Remove(intptr_t handle);

 private:
  void Dispatch();
  void Call(uint64_t key);

  Mode m_mode;
  int m_epoll = -1;
  int m_createError = 0;
  QSocketNotifier* m_notifier = nullptr;
  uint64_t m_nextKey = 1;  // keys are never reused, so a late event finds nothing
  std::map<uint64_t, std::function<void()>> m_handlers;
  std::map<intptr_t, uint64_t> m_keys;  // handle -> key
  std::map<intptr_t, QSocketNotifier*> m_direct;  // Direct: handle -> its notifier
};

}  // namespace vexel::cli

// What both platforms' event loops share: the watched handles' callbacks by
// key, the timers, the posted calls and the run loop. A platform adds only
// its wait (with a time-out, dispatching what became ready), its wake-up
// for Post, the OS side of Watch/Unwatch and the interrupt hook.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "loop/event_loop.h"

namespace vexel::cli {

class EventLoopCore : public EventLoop {
 public:
  explicit EventLoopCore(LoopClock& clock) : m_clock(clock) {}
  Clock::time_point Now() const override { return m_clock.Now(); }
  TimerId StartTimer(Clock::time_point due, Callback onDue) override;
  void StopTimer(TimerId id) override;
  void Post(Callback call) override;
  void Run() override;
  void Quit() override { m_quit = true; }

 protected:
  /// Waits up to @p timeoutMs (-1: no limit) and dispatches what is ready.
  virtual void WaitAndDispatch(int timeoutMs) = 0;
  /// Makes a wait in progress, or the next one, return (called from any
  /// thread, at most once per batch of posted calls).
  virtual void WakeUp() = 0;
  /// The wake-up has been seen: the next Post wakes the loop again. Called
  /// by the platform before it runs the posted calls.
  void WakeUpTaken();

  /// Registers @p onSignalled under a fresh key (keys are never reused, so
  /// an event still on its way for a removed handle finds nothing).
  uint64_t AddHandler(WaitHandle handle, Callback onSignalled);
  /// Forgets @p handle; its key, or 0 when it was not watched.
  uint64_t RemoveHandler(WaitHandle handle);
  bool IsWatched(WaitHandle handle) const { return m_keys.count(handle) != 0; }
  /// Calls the handler of @p key, if it is still there, through a copy:
  /// the handler may remove any entry, itself included.
  void CallHandler(uint64_t key);
  /// The handles watched now with their keys.
  std::vector<std::pair<WaitHandle, uint64_t>> Watched() const;

  void RunPosted();

 private:
  void RunDueTimers();
  /// How long the wait may block, in ms (-1: no limit), as the clock says.
  int WaitMs();
  bool HasPosted();

  LoopClock& m_clock;
  bool m_quit = false;
  uint64_t m_nextKey = 1;
  std::map<uint64_t, std::shared_ptr<Callback>> m_handlers;
  std::map<WaitHandle, uint64_t> m_keys;

  TimerId m_nextTimer = 1;
  std::map<TimerId, std::pair<Clock::time_point, Callback>> m_timers;
  std::set<std::pair<Clock::time_point, TimerId>> m_due;

  std::mutex m_postMutex;
  std::vector<Callback> m_posted;
  bool m_wakePending = false;
};

}  // namespace vexel::cli

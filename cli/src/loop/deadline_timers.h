// The controller's timers for a port: repeating, by id, never early. A
// restart (the controller restarts the reply time-out for every chunk) only
// moves a deadline; the loop's timer is left running and, when it comes
// before the deadline, is set again for the rest. That keeps timer
// registration out of every chunk's round.
#pragma once

#include <cstdint>
#include <functional>
#include <map>

#include "loop/event_loop.h"

namespace vexel::cli {

class DeadlineTimers final {
 public:
  /// @p fire is called on @p loop's thread with the id each time a started
  /// timer is due.
  DeadlineTimers(EventLoop& loop, std::function<void(uint32_t id)> fire);
  ~DeadlineTimers();
  DeadlineTimers(const DeadlineTimers&) = delete;
  DeadlineTimers& operator=(const DeadlineTimers&) = delete;

  /// Starts (or restarts) timer @p id: due @p ms from now, then every @p ms.
  void Start(uint32_t id, uint32_t ms);
  /// Stops timer @p id; nothing more comes from it until it is started again.
  void Stop(uint32_t id);
  /// Stops every timer, the loop's too.
  void StopAll();
  bool IsActive(uint32_t id) const;

 private:
  using Clock = EventLoop::Clock;
  struct Timer {
    EventLoop::TimerId armed = 0;  // the loop's timer, possibly still running when stopped
    Clock::time_point armedFor;
    bool active = false;
    uint32_t ms = 0;
    Clock::time_point due;
  };
  void Arm(uint32_t id, Timer& timer, Clock::time_point at);
  void OnLoopTimer(uint32_t id);

  EventLoop& m_loop;
  std::function<void(uint32_t)> m_fire;
  std::map<uint32_t, Timer> m_timers;
};

}  // namespace vexel::cli

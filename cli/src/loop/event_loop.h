// The loader's one event loop, the same interface on every platform: it
// waits on the lines' native wait handles, on deadlines of its clock (the
// monotonic clock, or a test's) and on calls posted from other threads, and
// turns Ctrl-C and its kin into a call on the loop's thread. Linux: epoll
// (event_loop_posix.cpp); Windows: WaitForMultipleObjects
// (event_loop_win32.cpp).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "loop/loop_clock.h"

namespace vexel::cli {

/// What a line's SerialEvent::NativeHandle() gives: a descriptor that polls
/// readable while signalled (Linux), an event HANDLE (Windows).
using WaitHandle = intptr_t;

class EventLoop {
 public:
  using Clock = LoopClock::Base;  ///< the time points' type; Now() tells the time
  using Callback = std::function<void()>;
  using TimerId = uint64_t;

  /// The platform's loop, on @p clock (which must outlive it).
  static std::unique_ptr<EventLoop> Create(LoopClock& clock = LoopClock::Steady());

  virtual ~EventLoop() = default;

  /// Calls @p onSignalled on the loop's thread whenever @p handle is
  /// signalled, until Unwatch; the handle stays signalled until its owner
  /// serves it (level-triggered). Returns 0, or the OS error that keeps the
  /// loop from watching it (errno on Linux, a Win32 error code on Windows).
  virtual int Watch(WaitHandle handle, Callback onSignalled) = 0;
  /// Stops watching @p handle; must come before the handle is closed. Safe
  /// from inside any callback, the handle's own included, and for a handle
  /// not watched.
  virtual void Unwatch(WaitHandle handle) = 0;

  /// The loop's time: what timers are due by. Never Clock::now() directly.
  virtual Clock::time_point Now() const = 0;
  /// Calls @p onDue once on the loop's thread, at @p due or soon after,
  /// never before. The id is never 0 and never reused.
  virtual TimerId StartTimer(Clock::time_point due, Callback onDue) = 0;
  /// Cancels a timer; harmless for one that has fired or was stopped.
  virtual void StopTimer(TimerId id) = 0;

  /// From any thread: calls @p call on the loop's thread, in posting order.
  virtual void Post(Callback call) = 0;

  /// Serves handles, timers and posted calls until Quit. A Quit that comes
  /// before Run makes it return at once.
  virtual void Run() = 0;
  /// Makes Run return once the callback in progress has returned.
  virtual void Quit() = 0;

  /// Until ReleaseInterrupts, a user's interrupt (Linux: SIGINT, SIGTERM and
  /// SIGHUP; Windows: Ctrl-C, Ctrl-Break and closing the console) calls
  /// @p onInterrupt on the loop's thread with the signal or control event.
  /// After the first one the previous handling is back, so that a second
  /// interrupt ends a loader stuck on its way out. One loop at a time.
  /// False when the handlers could not be installed.
  virtual bool CatchInterrupts(std::function<void(int)> onInterrupt) = 0;
  virtual void ReleaseInterrupts() = 0;
};

}  // namespace vexel::cli

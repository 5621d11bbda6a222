// Time for the loader's reports: seconds since the run began on its loop's
// clock, and the monotonic clock in microseconds for traces.
#pragma once

#include <chrono>
#include <cstdint>

#include "loop/event_loop.h"

namespace vexel::cli {

class RunClock {
 public:
  /// Starts now, on @p loop's clock; @p loop must outlive it.
  explicit RunClock(const EventLoop& loop) : m_loop(loop), m_start(loop.Now()) {}

  double Seconds() const { return std::chrono::duration<double>(m_loop.Now() - m_start).count(); }
  /// CLOCK_MONOTONIC in microseconds, comparable across processes.
  static int64_t MonotonicMicros() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::microseconds>(now).count();
  }

 private:
  const EventLoop& m_loop;
  EventLoop::Clock::time_point m_start;
};

}  // namespace vexel::cli

// Time for the loader's reports: seconds since the run began, and the
// monotonic clock in microseconds for traces.
#pragma once

#include <chrono>
#include <cstdint>

namespace vexel::cli {

class RunClock {
 public:
  double Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
  }
  /// CLOCK_MONOTONIC in microseconds, comparable across processes.
  static int64_t MonotonicMicros() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::microseconds>(now).count();
  }

 private:
  std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

}  // namespace vexel::cli

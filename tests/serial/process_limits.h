// What the serial tests do to their own process: a lowered limit of open
// descriptors, its CPU time, and idling without using the CPU.
#pragma once

#include <sys/resource.h>

#include <chrono>

namespace vexel::test {

// Lowers the soft limit of open descriptors for its lifetime, so that only
// @p spare more descriptors can be opened; kNoPoll sets it to 0, which also
// makes every poll() fail with EINVAL (it may watch no more descriptors than
// the limit).
class OpenFileLimit {
 public:
  explicit OpenFileLimit(int spare);
  ~OpenFileLimit();
  OpenFileLimit(const OpenFileLimit&) = delete;
  OpenFileLimit& operator=(const OpenFileLimit&) = delete;

  // Lifts the limit again before the end of the scope.
  void Lift();
  // False when the limit could not be set (the test cannot run).
  bool Applied() const { return m_applied; }

  static constexpr int kNoPoll = -1;

 private:
  rlimit m_saved{};
  bool m_applied = false;
};

// CPU time of the whole process, in seconds.
double ProcessCpuSeconds();
// Blocks for ms without using the CPU (a deadline, not a wait for an event).
void IdleFor(std::chrono::milliseconds ms);

}  // namespace vexel::test

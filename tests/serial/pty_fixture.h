// A real pseudo-terminal for the serial tests: the port under test opens the
// slave side by path; the test plays the far end on the master side.
#pragma once

#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace vexel::test {

class PtyPair {
 public:
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool IsOpen() const { return m_master >= 0; }
  const std::string& SlavePath() const { return m_slavePath; }
  int MasterFd() const { return m_master; }

  // Writes all of bytes to the master side; false on failure.
  bool Send(const std::string& bytes);
  // Reads from the master side until count bytes came or deadline
  // passed; returns what came.
  std::string Receive(size_t count, std::chrono::milliseconds deadline = kDeadline);
  // Closes the master side: the slave side hangs up.
  void HangUp();

  static constexpr std::chrono::milliseconds kDeadline{10000};

 private:
  int m_master = -1;
  std::string m_slavePath;
};

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

// Entries of /proc/self/task and /proc/self/fd.
int ThreadCount();
int OpenFdCount();
// CPU time of the whole process, in seconds.
double ProcessCpuSeconds();
// Blocks for ms without using the CPU (a deadline, not a wait for an event).
void IdleFor(std::chrono::milliseconds ms);

}  // namespace vexel::test

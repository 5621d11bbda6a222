// A real pseudo-terminal for the serial tests: the port under test opens the
// slave side by path; the test plays the far end on the master side.
#pragma once

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

// Entries of /proc/self/task and /proc/self/fd.
int ThreadCount();
int OpenFdCount();
// CPU time of the whole process, in seconds.
double ProcessCpuSeconds();
// Blocks for ms without using the CPU (a deadline, not a wait for an event).
void IdleFor(std::chrono::milliseconds ms);

}  // namespace vexel::test

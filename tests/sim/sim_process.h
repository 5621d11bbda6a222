// Test helpers: the simulator program as a child process, and a raw client
// on its pseudo-terminal. Every wait is a poll with a deadline.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace vexel::sim::test {

constexpr int kDeadlineMs = 20000;  // a safety net only; nothing waits this long when all is well

class SimProcess {
 public:
  SimProcess() = default;
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;
  /// Kills a child that is still running and reaps it.
  ~SimProcess();

  /// Starts vexel-module-sim with @p args; stdout and stderr are piped.
  bool Start(const std::vector<std::string>& args);
  /// The next line of stdout, without its newline; false at EOF or deadline.
  bool ReadLine(std::string& line, int timeoutMs = kDeadlineMs);
  /// Reads JSON event lines until one has "event" == @p event.
  bool WaitEvent(const std::string& event, nlohmann::json& found, int timeoutMs = kDeadlineMs);
  /// Sends @p signal, reads the rest of the output and returns the exit status.
  int Stop(int signal = 15);
  /// Reads the output to EOF and reaps the child; its exit status, or -1.
  int Finish(int timeoutMs = kDeadlineMs);

  pid_t Pid() const { return m_pid; }
  const std::vector<std::string>& Lines() const { return m_lines; }
  /// Every stdout line that is a JSON object, parsed.
  std::vector<nlohmann::json> Events() const;
  const std::string& Stderr() const { return m_stderr; }

 private:
  bool Pump(int timeoutMs);

  pid_t m_pid = -1;
  int m_out = -1;
  int m_err = -1;
  std::string m_outBuffer;
  std::string m_stderr;
  std::vector<std::string> m_lines;
  size_t m_nextLine = 0;
};

/// The loader's side of the line, raw: writes requests, reads replies.
class PtyClient {
 public:
  PtyClient() = default;
  PtyClient(const PtyClient&) = delete;
  PtyClient& operator=(const PtyClient&) = delete;
  ~PtyClient();

  bool Open(const std::string& path);
  void Close();
  bool Write(const std::vector<uint8_t>& bytes);
  /// Reads exactly @p count bytes, or fails at the deadline or a hang-up.
  bool Read(size_t count, std::vector<uint8_t>& bytes, int timeoutMs = kDeadlineMs);
  /// Waits until the other side has gone (hang-up or EIO).
  bool WaitHangUp(int timeoutMs = kDeadlineMs);
  int Fd() const { return m_fd; }

 private:
  int m_fd = -1;
};

}  // namespace vexel::sim::test

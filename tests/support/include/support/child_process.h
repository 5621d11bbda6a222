// A child of the test, running a program or a function, with its output
// collected by a reader thread and every wait bounded by a deadline.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vexel::test {

using namespace std::chrono_literals;

class ChildProcess {
 public:
  struct Options {
    std::vector<std::string> argv;  ///< the program and its arguments
    std::vector<std::string> env;   ///< "NAME=VALUE" added to the test's environment
    bool asNobody = false;          ///< drop to uid/gid 65534 before exec (needs root)
    bool stdoutOnTerminal = false;  ///< stdout on a pseudo-terminal, 100 columns
    int stdoutFd = -1;              ///< stdout goes here instead (never read by this object)
    bool closeStdStreams = false;   ///< start with descriptors 0, 1 and 2 closed
    /// Stop reading stdout once its first line is in, as a script that reads
    /// only that would; ReadAllOut reads on.
    bool readFirstLineOnly = false;
    /// Run instead of a program: the child ends with its result as exit
    /// status. Between fork and its end only what the test allows there.
    std::function<int()> body;
    /// Called on the reader thread whenever new output came or the child ended.
    std::function<void()> onOutput;
  };

  explicit ChildProcess(const Options& options);
  /// Kills the child if it still runs, and reaps it.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return m_pid; }
  void Signal(int signo) const;

  /// Waits until stdout satisfies @p done; false at the deadline or when the
  /// child ended without it.
  bool WaitForOut(const std::function<bool(const std::string&)>& done,
                  std::chrono::milliseconds deadline = 20s) const;
  /// The first line of stdout, without its newline; empty at the deadline.
  std::string FirstLine(std::chrono::milliseconds deadline = 20s) const;
  /// Reads stdout again after readFirstLineOnly held it.
  void ReadAllOut();
  /// The exit status, 128 + the signal for a killed child, -1 at the deadline.
  int WaitExit(std::chrono::milliseconds deadline = 30s) const;

  std::string Out() const;
  std::string Err() const;

 private:
  void Spawn(const Options& options);
  void ReadLoop();
  bool OutHeld() const;

  pid_t m_pid = -1;
  int m_outFd = -1;
  int m_errFd = -1;
  int m_pidFd = -1;
  int m_wakeFd = -1;       // an eventfd that ReadAllOut signals to the reader
  bool m_outHeld = false;  // guarded by m_mutex
  std::function<void()> m_onOutput;
  std::thread m_reader;
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_changed;
  std::string m_out;
  std::string m_err;
  bool m_exited = false;
  int m_status = -1;
};

/// Runs @p body in a child of the test and returns its exit status, as
/// ChildProcess::WaitExit does: for what must not touch the test's own
/// process (its limits, its user).
int RunInChild(const std::function<int()>& body, bool asNobody = false);

}  // namespace vexel::test

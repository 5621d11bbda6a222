// The simulator program, vexel-module-sim, as a child of the test: a module
// on a pseudo-terminal whose path is its first line of output and whose
// JSON events follow.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/child_process.h"

namespace vexel::test {

class SimProgram {
 public:
  /// Not started yet: see Start.
  SimProgram() = default;
  /// Started with @p args at once.
  explicit SimProgram(std::vector<std::string> args, ChildProcess::Options options = {});
  /// Ends the program by SIGTERM, as a user would, and reaps it.
  ~SimProgram();

  SimProgram(const SimProgram&) = delete;
  SimProgram& operator=(const SimProgram&) = delete;

  /// Starts the program with @p args (taken as given: no --json is added)
  /// and the rest of @p options; true once it runs.
  bool Start(std::vector<std::string> args, ChildProcess::Options options = {});

  /// The first line of output (the line's path); empty when none came by
  /// the deadline.
  const std::string& Path() const;
  /// The next line of stdout not read yet, without its newline; false when
  /// the program ended or the deadline passed first.
  bool ReadLine(std::string& line, std::chrono::milliseconds deadline = 20s);
  /// Reads lines until an event named @p event; false at the end or deadline.
  bool WaitEvent(const std::string& event, nlohmann::json& found,
                 std::chrono::milliseconds deadline = 20s);

  /// Every complete line of stdout so far.
  std::vector<std::string> Lines() const;
  /// Every line that is a JSON object, parsed.
  std::vector<nlohmann::json> Events() const;
  /// The frames the module received, as hex, in order.
  std::vector<std::string> Requests() const;
  std::string Stderr() const;

  /// Sends @p signo and returns the exit status (ChildProcess::WaitExit's).
  int Stop(int signo = 15);
  /// Waits for the program's end; its exit status, or -1 at the deadline.
  int Finish(std::chrono::milliseconds deadline = 30s);
  ChildProcess& Process() { return *m_process; }

 private:
  std::optional<ChildProcess> m_process;
  mutable std::string m_path;
  mutable bool m_pathRead = false;
  size_t m_nextLine = 0;
};

}  // namespace vexel::test

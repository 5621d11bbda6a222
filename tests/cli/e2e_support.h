// What the end-to-end tests of the loader share: simulated modules as child
// processes, pipes, and taking their output apart.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"

namespace vexel::cli::test {

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

inline bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

inline size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// Everything a pipe gives until its writers are gone, or what came by the
// deadline.
inline std::string ReadToEnd(int fd, std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  std::string text;
  char buffer[4096];
  while (std::chrono::steady_clock::now() < end) {
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, 100) <= 0) continue;
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  return text;
}

class Pipe {
 public:
  Pipe() { EXPECT_EQ(::pipe2(m_fds, O_CLOEXEC), 0); }
  ~Pipe() {
    CloseRead();
    CloseWrite();
  }
  int Read() const { return m_fds[0]; }
  int Write() const { return m_fds[1]; }
  void CloseRead() { Close(m_fds[0]); }
  void CloseWrite() { Close(m_fds[1]); }

 private:
  static void Close(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  int m_fds[2] = {-1, -1};
};

inline bool ProcessHasOpen(pid_t pid, const std::string& path) {
  std::error_code error;
  for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
    std::error_code linkError;
    if (std::filesystem::read_symlink(fd.path(), linkError) == path) return true;
  }
  return false;
}

// One simulated module; stopped by its pid when the test ends.
class SimModule {
 public:
  explicit SimModule(std::vector<std::string> args = {})
      : m_process(Options(std::move(args))), m_path(m_process.FirstLine()) {}
  ~SimModule() { m_process.Signal(SIGTERM); }

  const std::string& Path() const { return m_path; }
  ChildProcess& Process() { return m_process; }
  /// The sim's JSON events after its first line.
  std::vector<nlohmann::json> Events() const {
    std::vector<nlohmann::json> events;
    const auto lines = Lines(m_process.Out());
    for (size_t i = 1; i < lines.size(); ++i) events.push_back(nlohmann::json::parse(lines[i]));
    return events;
  }
  /// The frames the module received, as hex, in order.
  std::vector<std::string> Requests() const {
    std::vector<std::string> frames;
    for (const auto& event : Events()) {
      if (event["event"] == "request") frames.push_back(event["frame"]);
    }
    return frames;
  }

 private:
  static ChildProcess::Options Options(std::vector<std::string> args) {
    args.insert(args.begin(), {VEXEL_SIM_PATH, "--json"});
    return {args, {}, false, false};
  }

  ChildProcess m_process;
  std::string m_path;
};

}  // namespace vexel::cli::test

// What the end-to-end tests of the loader share: simulated modules, pipes,
// and taking their output apart.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/proc_scan.h"
#include "support/sim_program.h"

namespace vexel::cli::test {

using vexel::test::ChildProcess;
using vexel::test::ProcessHasOpen;

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

// One simulated module, reporting in JSON; stopped by its pid when the test
// ends.
// The loader run as a child with @p args.
inline ChildProcess::Options Cli(std::vector<std::string> args) {
  args.insert(args.begin(), VEXEL_CLI_PATH);
  ChildProcess::Options options;
  options.argv = std::move(args);
  return options;
}

class SimModule : public vexel::test::SimProgram {
 public:
  explicit SimModule(std::vector<std::string> args = {}) : SimProgram(WithJson(std::move(args))) {}

 private:
  static std::vector<std::string> WithJson(std::vector<std::string> args) {
    args.insert(args.begin(), "--json");
    return args;
  }
};

}  // namespace vexel::cli::test

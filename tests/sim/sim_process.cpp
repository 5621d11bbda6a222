#include "sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

extern char** environ;

namespace vexel::sim::test {
namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// Reads what is there into @p sink; false at EOF or on an error.
bool Drain(int& fd, std::string& sink) {
  char buffer[4096];
  const ssize_t n = ::read(fd, buffer, sizeof buffer);
  if (n > 0) {
    sink.append(buffer, static_cast<size_t>(n));
    return true;
  }
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true;
  CloseFd(fd);
  return false;
}

}  // namespace

SimProcess::~SimProcess() {
  if (m_pid > 0) {
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
  }
  CloseFd(m_out);
  CloseFd(m_err);
}

bool SimProcess::Start(const std::vector<std::string>& args) {
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return false;
  if (::pipe2(err, O_CLOEXEC) != 0) {
    ::close(out[0]), ::close(out[1]);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  std::vector<std::string> all{VEXEL_MODULE_SIM_PATH};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : all) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const int rc = ::posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ::close(err[1]);
  m_out = out[0];
  m_err = err[0];
  ::fcntl(m_out, F_SETFL, O_NONBLOCK);
  ::fcntl(m_err, F_SETFL, O_NONBLOCK);
  if (rc != 0) m_pid = -1;
  return rc == 0;
}

// One poll over both pipes; moves complete stdout lines into m_lines.
bool SimProcess::Pump(int timeoutMs) {
  pollfd fds[2] = {{m_out, POLLIN, 0}, {m_err, POLLIN, 0}};
  if (m_out < 0 && m_err < 0) return false;
  if (::poll(fds, 2, timeoutMs) <= 0) return false;
  if (fds[0].revents) Drain(m_out, m_outBuffer);
  if (fds[1].revents) Drain(m_err, m_stderr);
  for (size_t nl; (nl = m_outBuffer.find('\n')) != std::string::npos;) {
    m_lines.push_back(m_outBuffer.substr(0, nl));
    m_outBuffer.erase(0, nl + 1);
  }
  return true;
}

bool SimProcess::ReadLine(std::string& line, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (m_nextLine >= m_lines.size()) {
    if (!Pump(MsLeft(deadline))) return false;
  }
  line = m_lines[m_nextLine++];
  return true;
}

bool SimProcess::WaitEvent(const std::string& event, nlohmann::json& found, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string line;
  while (ReadLine(line, MsLeft(deadline))) {
    const nlohmann::json parsed = nlohmann::json::parse(line, nullptr, false);
    if (parsed.is_object() && parsed.value("event", "") == event) {
      found = parsed;
      return true;
    }
  }
  return false;
}

int SimProcess::Stop(int signal) {
  if (m_pid > 0) ::kill(m_pid, signal);
  return Finish();
}

// The pipes reach EOF when the child has exited, so waitpid no longer blocks.
int SimProcess::Finish(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while ((m_out >= 0 || m_err >= 0) && MsLeft(deadline) > 0) Pump(MsLeft(deadline));
  if (m_pid <= 0) return -1;
  if (m_out >= 0 || m_err >= 0) ::kill(m_pid, SIGKILL);
  int status = 0;
  ::waitpid(m_pid, &status, 0);
  m_pid = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<nlohmann::json> SimProcess::Events() const {
  std::vector<nlohmann::json> events;
  for (const std::string& line : m_lines) {
    nlohmann::json parsed = nlohmann::json::parse(line, nullptr, false);
    if (parsed.is_object()) events.push_back(std::move(parsed));
  }
  return events;
}

PtyClient::~PtyClient() { Close(); }

bool PtyClient::Open(const std::string& path) {
  m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  return m_fd >= 0;
}

void PtyClient::Close() { CloseFd(m_fd); }

bool PtyClient::Write(const std::vector<uint8_t>& bytes) {
  return ::write(m_fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

bool PtyClient::Read(size_t count, std::vector<uint8_t>& bytes, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  bytes.clear();
  while (bytes.size() < count) {
    pollfd fd{m_fd, POLLIN, 0};
    if (::poll(&fd, 1, MsLeft(deadline)) <= 0) return false;
    uint8_t buffer[512];
    const ssize_t n = ::read(m_fd, buffer, std::min(sizeof buffer, count - bytes.size()));
    if (n > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    else if (!(n < 0 && errno == EAGAIN)) return false;
  }
  return true;
}

bool PtyClient::WaitHangUp(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    pollfd fd{m_fd, POLLIN, 0};
    if (::poll(&fd, 1, MsLeft(deadline)) <= 0) return false;
    if (fd.revents & (POLLHUP | POLLERR)) return true;
    uint8_t buffer[512];
    const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
    if (n == 0 || (n < 0 && errno == EIO)) return true;
  }
}

}  // namespace vexel::sim::test

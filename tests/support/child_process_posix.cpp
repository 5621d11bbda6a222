#include "support/child_process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "support/pty.h"

extern char** environ;

namespace vexel::test {
namespace {

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (auto& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Appends what can be read now; false once the descriptor is at its end
// (a pseudo-terminal's master reports EIO when the other side is gone).
bool Drain(int fd, std::string& into) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      into.append(buffer, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return n < 0 && errno == EAGAIN;
  }
}

// The stdout pair: [0] read by the test (-1 when not), [1] the child's.
void OpenStdout(const ChildProcess::Options& options, int out[2]) {
  if (options.stdoutFd >= 0) {
    out[0] = -1;
    out[1] = ::fcntl(options.stdoutFd, F_DUPFD_CLOEXEC, 3);
  } else if (options.stdoutOnTerminal) {
    const PtyPair terminal(PtyPair::Mode::Cooked, 100);
    if (!terminal.IsOpen()) throw std::runtime_error("pty");
    out[0] = ::fcntl(terminal.MasterFd(), F_DUPFD_CLOEXEC, 3);
    out[1] = ::open(terminal.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  } else if (::pipe2(out, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe");
  }
}

}  // namespace

ChildProcess::ChildProcess(const Options& options) : m_onOutput(options.onOutput) {
  m_outHeld = options.readFirstLineOnly;
  m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (m_wakeFd < 0) throw std::runtime_error("eventfd");
  Spawn(options);
  m_reader = std::thread([this] { ReadLoop(); });
}

ChildProcess::~ChildProcess() {
  if (WaitExit(0ms) < 0) {
    Signal(SIGKILL);
    WaitExit(30s);
  }
  if (m_reader.joinable()) m_reader.join();
  for (int fd : {m_outFd, m_errFd, m_pidFd, m_wakeFd}) {
    if (fd >= 0) ::close(fd);
  }
}

void ChildProcess::Spawn(const Options& options) {
  std::vector<std::string> argv = options.argv;
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
  env.insert(env.end(), options.env.begin(), options.env.end());
  auto argp = Pointers(argv);
  auto envp = Pointers(env);

  int out[2];
  int err[2];
  if (::pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  OpenStdout(options, out);
  const pid_t parent = ::getpid();
  m_pid = ::fork();
  if (m_pid < 0) throw std::runtime_error("fork");
  if (m_pid == 0) {
    // Only async-signal-safe calls between fork and exec; a child left
    // behind by a test that died is ended too.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) _exit(125);
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    if (options.closeStdStreams) {
      for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) ::close(fd);
    }
    if (options.asNobody) {
      const gid_t nogroup = 65534;
      if (::setgroups(0, nullptr) != 0 || ::setgid(nogroup) != 0 || ::setuid(65534) != 0)
        _exit(126);
    }
    if (options.body) _exit(options.body() & 0xFF);
    ::execve(argp[0], argp.data(), envp.data());
    _exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  m_outFd = out[0];
  m_errFd = err[0];
  if (m_outFd >= 0) ::fcntl(m_outFd, F_SETFL, O_NONBLOCK);
  ::fcntl(m_errFd, F_SETFL, O_NONBLOCK);
  m_pidFd = static_cast<int>(::syscall(SYS_pidfd_open, m_pid, 0));
  if (m_pidFd < 0) throw std::runtime_error("pidfd_open");
}

void ChildProcess::ReadLoop() {
  bool outOpen = m_outFd >= 0;
  bool errOpen = true;
  bool running = true;
  while (running || outOpen || errOpen) {
    pollfd fds[4] = {{outOpen && !OutHeld() ? m_outFd : -1, POLLIN, 0},
                     {errOpen ? m_errFd : -1, POLLIN, 0},
                     {running ? m_pidFd : -1, POLLIN, 0},
                     {m_wakeFd, POLLIN, 0}};
    if (::poll(fds, 4, -1) < 0 && errno != EINTR) break;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (fds[3].revents != 0) {
        eventfd_t ignored = 0;
        ::eventfd_read(m_wakeFd, &ignored);
      }
      if (fds[0].revents != 0) outOpen = Drain(m_outFd, m_out);
      if (fds[1].revents != 0) errOpen = Drain(m_errFd, m_err);
      if (fds[2].revents != 0) {
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        running = false;
        // What the child wrote is all in the pipes now; a grandchild that kept
        // them open is not waited for.
        if (outOpen) Drain(m_outFd, m_out);
        if (errOpen) Drain(m_errFd, m_err);
        outOpen = errOpen = false;
        m_exited = true;
      }
      m_changed.notify_all();
    }
    if (m_onOutput) m_onOutput();
  }
}

// Held only once the first line is in: a reader waiting for that line must
// get it.
bool ChildProcess::OutHeld() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_outHeld && m_out.find('\n') != std::string::npos;
}

void ChildProcess::ReadAllOut() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_outHeld = false;
  }
  ::eventfd_write(m_wakeFd, 1);
}

// A child already reaped is not signalled: its pid may be another's by now.
void ChildProcess::Signal(int signo) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_pid > 0 && !m_exited) ::kill(m_pid, signo);
}

bool ChildProcess::WaitForOut(const std::function<bool(const std::string&)>& done,
                              std::chrono::milliseconds deadline) const {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(lock, deadline, [&] { return done(m_out) || m_exited; }) && done(m_out);
}

std::string ChildProcess::FirstLine(std::chrono::milliseconds deadline) const {
  if (!WaitForOut([](const std::string& out) { return out.find('\n') != std::string::npos; },
                  deadline)) {
    return {};
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_out.substr(0, m_out.find('\n'));
}

int ChildProcess::WaitExit(std::chrono::milliseconds deadline) const {
  std::unique_lock<std::mutex> lock(m_mutex);
  if (!m_changed.wait_for(lock, deadline, [&] { return m_exited; })) return -1;
  return m_status;
}

std::string ChildProcess::Out() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_out;
}

std::string ChildProcess::Err() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_err;
}

int RunInChild(const std::function<int()>& body, bool asNobody) {
  ChildProcess::Options options;
  options.body = body;
  options.asNobody = asNobody;
  return ChildProcess(options).WaitExit();
}

}  // namespace vexel::test

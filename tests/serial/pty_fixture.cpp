#include "pty_fixture.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>
#include <vector>

namespace vexel::test {
namespace {

// @p listsItself: the directory's own descriptor shows up in /proc/self/fd.
int CountEntries(const char* directory, bool listsItself) {
  DIR* dir = ::opendir(directory);
  if (dir == nullptr) return -1;
  int count = 0;
  while (dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  ::closedir(dir);
  return listsItself ? count - 1 : count;
}

}  // namespace

PtyPair::PtyPair() {
  int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return;
  char name[128];
  if (::grantpt(fd) != 0 || ::unlockpt(fd) != 0 || ::ptsname_r(fd, name, sizeof name) != 0) {
    ::close(fd);
    return;
  }
  // Raw as the simulator leaves its slave: a port that closes gives the
  // line back its settings, and a cooked one would echo the far end's bytes.
  const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios raw{};
  const bool madeRaw = slave >= 0 && ::tcgetattr(slave, &raw) == 0 &&
                       (::cfmakeraw(&raw), ::tcsetattr(slave, TCSANOW, &raw) == 0);
  if (slave >= 0) ::close(slave);
  if (!madeRaw) {
    ::close(fd);
    return;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  m_master = fd;
  m_slavePath = name;
}

PtyPair::~PtyPair() { HangUp(); }

void PtyPair::HangUp() {
  if (m_master >= 0) ::close(m_master);
  m_master = -1;
}

bool PtyPair::Send(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = ::write(m_master, bytes.data() + sent, bytes.size() - sent);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    pollfd p{m_master, POLLOUT, 0};
    if (::poll(&p, 1, static_cast<int>(kDeadline.count())) <= 0) return false;
  }
  return true;
}

std::string PtyPair::Receive(size_t count, std::chrono::milliseconds deadline) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + deadline;
  std::string got;
  while (got.size() < count) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    if (left.count() <= 0) break;
    pollfd p{m_master, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[512];
    ssize_t n = ::read(m_master, buffer, std::min(sizeof buffer, count - got.size()));
    if (n > 0) got.append(buffer, static_cast<size_t>(n));
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;
  }
  return got;
}

// The limit is the number of the first free descriptor beyond the spare
// ones: every number below it but those is taken.
OpenFileLimit::OpenFileLimit(int spare) {
  if (::getrlimit(RLIMIT_NOFILE, &m_saved) != 0) return;
  rlim_t limit = 0;
  if (spare != kNoPoll) {
    std::vector<int> taken;
    for (int i = 0; i <= spare; ++i) {
      const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
      if (fd < 0) break;
      taken.push_back(fd);
    }
    if (static_cast<int>(taken.size()) != spare + 1) return;
    limit = static_cast<rlim_t>(taken.back());
    for (int fd : taken) ::close(fd);
  }
  rlimit lowered = m_saved;
  lowered.rlim_cur = limit;
  m_applied = ::setrlimit(RLIMIT_NOFILE, &lowered) == 0;
}

OpenFileLimit::~OpenFileLimit() { Lift(); }

void OpenFileLimit::Lift() {
  if (m_applied) ::setrlimit(RLIMIT_NOFILE, &m_saved);
  m_applied = false;
}

int ThreadCount() {
  // A sanitizer runtime starts its helper thread with the first thread the
  // process creates; have that happen before anything is counted.
  static const bool warmedUp = [] {
    std::thread([] {}).join();
    return true;
  }();
  (void)warmedUp;
  return CountEntries("/proc/self/task", false);
}

int OpenFdCount() { return CountEntries("/proc/self/fd", true); }

double ProcessCpuSeconds() {
  timespec ts{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void IdleFor(std::chrono::milliseconds ms) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + ms;
  for (auto left = ms; left.count() > 0;
       left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now())) {
    ::poll(nullptr, 0, static_cast<int>(left.count()));
  }
}

}  // namespace vexel::test

#include "process_limits.h"

#include <fcntl.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <vector>

namespace vexel::test {

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

#include "support/pty.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace vexel::test {
namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point end) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

bool MakeRaw(const char* slavePath) {
  const int slave = ::open(slavePath, O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios raw{};
  const bool madeRaw = slave >= 0 && ::tcgetattr(slave, &raw) == 0 &&
                       (::cfmakeraw(&raw), ::tcsetattr(slave, TCSANOW, &raw) == 0);
  if (slave >= 0) ::close(slave);
  return madeRaw;
}

}  // namespace

void TtyEnd::Close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
}

bool TtyEnd::Send(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::write(m_fd, bytes.data() + sent, bytes.size() - sent);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    pollfd p{m_fd, POLLOUT, 0};
    if (::poll(&p, 1, static_cast<int>(kDeadline.count())) <= 0) return false;
  }
  return true;
}

std::string TtyEnd::Receive(size_t count, std::chrono::milliseconds deadline) {
  const auto end = Clock::now() + deadline;
  std::string got;
  while (got.size() < count && MsLeft(end) > 0) {
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, MsLeft(end)) <= 0) continue;
    char buffer[512];
    const ssize_t n = ::read(m_fd, buffer, std::min(sizeof buffer, count - got.size()));
    if (n > 0) got.append(buffer, static_cast<size_t>(n));
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;
  }
  return got;
}

bool TtyEnd::WaitHangUp(std::chrono::milliseconds deadline) {
  const auto end = Clock::now() + deadline;
  for (;;) {
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, MsLeft(end)) <= 0) return false;
    if (p.revents & (POLLHUP | POLLERR)) return true;
    char buffer[512];
    const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
    if (n == 0 || (n < 0 && errno == EIO)) return true;
  }
}

PtyPair::PtyPair(Mode mode, unsigned short columns) {
  const int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return;
  char name[128];
  if (::grantpt(fd) != 0 || ::unlockpt(fd) != 0 || ::ptsname_r(fd, name, sizeof name) != 0 ||
      (mode == Mode::Raw && !MakeRaw(name))) {
    ::close(fd);
    return;
  }
  if (columns != 0) {
    winsize size{};
    size.ws_col = columns;
    size.ws_row = 30;
    ::ioctl(fd, TIOCSWINSZ, &size);
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  m_fd = fd;
  m_slavePath = name;
}

bool TtyClient::Open(const std::string& path) {
  Close();
  m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  return m_fd >= 0;
}

}  // namespace vexel::test

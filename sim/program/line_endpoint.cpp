#include "line_endpoint.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace vexel::sim {
namespace {

std::string Why(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

bool MakeRaw(int fd, bool moduleLineFormat) {
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) return false;
  ::cfmakeraw(&tio);
  if (moduleLineFormat) {
    tio.c_cflag |= PARENB | CSTOPB | CLOCAL | CREAD;
    ::cfsetspeed(&tio, B57600);
  }
  return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

}  // namespace

LineEndpoint::~LineEndpoint() {
  RemoveLink();
  HangUp();
}

// The slave is opened and made raw before its path is published, so no
// loader can open it while it still echoes or edits lines.
bool LineEndpoint::OpenPty(std::string& error) {
  m_fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (m_fd < 0) return error = Why("posix_openpt"), false;
  const char* name = nullptr;
  if (::grantpt(m_fd) != 0 || ::unlockpt(m_fd) != 0 || (name = ::ptsname(m_fd)) == nullptr) {
    error = Why("pty setup");
    HangUp();
    return false;
  }
  m_path = name;
  m_isPty = true;
  if (!OpenOwnSlave() || !MakeRaw(m_slaveFd, false)) {
    error = Why(("raw mode on " + m_path).c_str());
    HangUp();
    return false;
  }
  WatchCloses();
  return true;
}

// Read-only, so its own close is a "close without write" and never looks
// like a loader leaving. Through the master where the kernel can (no path
// lookup); a loader's exclusive flag refuses it either way.
bool LineEndpoint::OpenOwnSlave() {
  constexpr int kFlags = O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
  m_slaveFd = ::ioctl(m_fd, TIOCGPTPEER, kFlags);
  if (m_slaveFd < 0 && errno != EBUSY) m_slaveFd = ::open(m_path.c_str(), kFlags);
  return m_slaveFd >= 0;
}

// Loaders open the line to write, so each of their last closes raises
// IN_CLOSE_WRITE; ours never does. Without inotify, Confirm checks before
// every write instead.
void LineEndpoint::WatchCloses() {
  m_watchFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (m_watchFd >= 0 && ::inotify_add_watch(m_watchFd, m_path.c_str(), IN_CLOSE_WRITE) < 0) {
    CloseFd(m_watchFd);
  }
}

// Close events are only a signal to check: two closes in a row merge into
// one event, and the event comes before the kernel has let go of the line.
std::optional<bool> LineEndpoint::HandleCloseSignals() {
  alignas(inotify_event) char buffer[4096];
  while (::read(m_watchFd, buffer, sizeof buffer) > 0) {
  }
  return Recheck();
}

std::optional<bool> LineEndpoint::Confirm() {
  if (!m_isPty || (m_present && m_watchFd >= 0)) return std::nullopt;
  return Recheck();
}

// A loader that opens the line finds it empty, what the last one leaves
// unread goes with it, and the exclusive flag of a loader that could not
// clear it (killed on the line) goes too: it would keep every later loader
// of a normal user out.
std::optional<bool> LineEndpoint::Recheck() {
  if (!m_isPty) return std::nullopt;
  const bool present = OthersHoldTheSlave();
  if (!present && m_slaveFd >= 0) ::ioctl(m_slaveFd, TIOCNXCL);
  if (present == m_present) return std::nullopt;
  m_present = present;
  DropUnread();
  return present;
}

// The kernel counts a pty slave's open descriptors but shows only one fact
// about the count: the master polls POLLHUP while it is zero. So our own
// descriptor is let go for the check and taken back at once, through the
// master. A loader's exclusive flag would refuse it, so the flag is lifted
// around the check and put back while the loader still has the line. Only
// a loader setting the flag within those few system calls can keep us out
// (Stranded); each later check tries again.
bool LineEndpoint::OthersHoldTheSlave() {
  int exclusive = 0;
  if (m_slaveFd >= 0 && ::ioctl(m_slaveFd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
    ::ioctl(m_slaveFd, TIOCNXCL);
  }
  CloseFd(m_slaveFd);
  pollfd master{m_fd, 0, 0};
  const bool held = ::poll(&master, 1, 0) >= 0 && (master.revents & POLLHUP) == 0;
  if (OpenOwnSlave() && held && exclusive != 0) ::ioctl(m_slaveFd, TIOCEXCL);
  return held;
}

bool LineEndpoint::OpenDevice(const std::string& path, std::string& error) {
  m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (m_fd < 0) return error = Why(path.c_str()), false;
  if (::ioctl(m_fd, TIOCEXCL) != 0 || !MakeRaw(m_fd, true)) {
    error = Why(path.c_str());
    HangUp();
    return false;
  }
  m_path = path;
  return true;
}

bool LineEndpoint::MakeLink(const std::string& linkPath, std::string& error) {
  struct stat st {};
  if (::lstat(linkPath.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode))
      return error = linkPath + ": exists and is not a symbolic link", false;
    if (::unlink(linkPath.c_str()) != 0) return error = Why(linkPath.c_str()), false;
  }
  if (::symlink(m_path.c_str(), linkPath.c_str()) != 0) return error = Why(linkPath.c_str()), false;
  m_link = linkPath;
  return true;
}

// Another simulator may have taken the link over since; leave its link alone.
void LineEndpoint::RemoveLink() {
  if (m_link.empty()) return;
  char target[4096];
  const ssize_t n = ::readlink(m_link.c_str(), target, sizeof target - 1);
  if (n >= 0 && std::string(target, static_cast<size_t>(n)) == m_path) ::unlink(m_link.c_str());
  m_link.clear();
}

// Reading, not tcflush: a flush leaves the bytes the pty has not yet moved
// into the slave's queue, and they would reach the next loader.
void LineEndpoint::DropUnread() {
  uint8_t buffer[4096];
  while (m_slaveFd >= 0 && ::read(m_slaveFd, buffer, sizeof buffer) > 0) {
  }
}

void LineEndpoint::HangUp() {
  CloseFd(m_watchFd);
  CloseFd(m_fd);
  CloseFd(m_slaveFd);
}

size_t LineEndpoint::PendingForLoader() const {
  if (!LoaderPresent()) return 0;
  int count = 0;
  const bool ok = m_slaveFd >= 0 ? ::ioctl(m_slaveFd, FIONREAD, &count) == 0
                                 : m_fd >= 0 && ::ioctl(m_fd, TIOCOUTQ, &count) == 0;
  return ok && count > 0 ? static_cast<size_t>(count) : 0;
}

}  // namespace vexel::sim

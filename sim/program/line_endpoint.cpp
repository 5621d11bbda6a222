#include "line_endpoint.h"

#include <fcntl.h>
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
  m_slaveFd = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (m_slaveFd < 0 || !MakeRaw(m_slaveFd, false)) {
    error = Why(("raw mode on " + m_path).c_str());
    HangUp();
    return false;
  }
  WatchOpens();
  return true;
}

// Our own slave descriptor is open before the watch starts, so only the
// loaders' opens and closes are counted. Without inotify every byte is kept.
void LineEndpoint::WatchOpens() {
  m_watchFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (m_watchFd >= 0 && ::inotify_add_watch(m_watchFd, m_path.c_str(), IN_OPEN | IN_CLOSE) < 0) {
    CloseFd(m_watchFd);
  }
}

std::vector<bool> LineEndpoint::HandleOpenEvents() {
  std::vector<bool> changes;
  alignas(inotify_event) char buffer[4096];
  ssize_t n;
  while ((n = ::read(m_watchFd, buffer, sizeof buffer)) > 0) {
    for (char* p = buffer; p < buffer + n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(p);
      CountOpener((event->mask & IN_OPEN) != 0, (event->mask & IN_CLOSE) != 0, changes);
      p += sizeof(inotify_event) + event->len;
    }
  }
  return changes;
}

// A loader that opens the line finds it empty, and what the last one leaves
// unread goes with it.
void LineEndpoint::CountOpener(bool opened, bool closed, std::vector<bool>& changes) {
  if (opened && m_openers++ == 0) {
    DropUnread();
    changes.push_back(true);
  }
  if (closed && m_openers > 0 && --m_openers == 0) {
    DropUnread();
    changes.push_back(false);
  }
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
    if (!S_ISLNK(st.st_mode)) return error = linkPath + ": exists and is not a symbolic link", false;
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

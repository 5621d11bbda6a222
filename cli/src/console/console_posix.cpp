#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "console/console.h"

namespace vexel::cli {

ConsoleInfo InspectConsole() {
  ConsoleInfo info;
  const char* term = std::getenv("TERM");
  info.outIsTerminal = ::isatty(STDOUT_FILENO) == 1 && !(term && std::strcmp(term, "dumb") == 0);
  struct winsize size {};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) info.width = size.ws_col;
  info.errIsTerminal = ::isatty(STDERR_FILENO) == 1;
  return info;
}

void PrepareStandardStreams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    // open() takes the lowest free number, which is this one.
    const int null = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (null >= 0 && null != fd) ::close(null);
  }
  ::signal(SIGPIPE, SIG_IGN);
}

namespace {

bool SameDevice(const struct stat& device, int fd) {
  struct stat other {};
  return ::isatty(fd) == 1 && ::fstat(fd, &other) == 0 && other.st_rdev == device.st_rdev;
}

// /dev/tty itself, or the terminal it stands for in this process.
bool IsControllingTerminal(const struct stat& device) {
  struct stat tty {};
  if (::stat("/dev/tty", &tty) == 0 && tty.st_rdev == device.st_rdev) return true;
  const int fd = ::open("/dev/tty", O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  const bool same = SameDevice(device, fd);
  ::close(fd);
  return same;
}

}  // namespace

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

std::string OwnTerminalRefusal(const std::string& device) {
  struct stat info {};
  if (::stat(device.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) return {};
  const bool own = IsControllingTerminal(info) || SameDevice(info, STDIN_FILENO) ||
                   SameDevice(info, STDOUT_FILENO) || SameDevice(info, STDERR_FILENO);
  if (!own) return {};
  return "this is the loader's own terminal (its controlling terminal or one of its standard "
         "streams), not a module's serial line";
}

bool WriteFully(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // EPIPE: the reader has gone
    done += static_cast<size_t>(n);
  }
  return true;
}

bool SameFile(int a, int b) {
  struct stat first {};
  struct stat second {};
  return ::fstat(a, &first) == 0 && ::fstat(b, &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

bool NeverBlocks(int fd) {
  struct stat info {};
  struct stat null {};
  if (::fstat(fd, &info) != 0) return false;
  if (S_ISREG(info.st_mode)) return true;
  return S_ISCHR(info.st_mode) && ::stat("/dev/null", &null) == 0 && null.st_rdev == info.st_rdev;
}

}  // namespace vexel::cli

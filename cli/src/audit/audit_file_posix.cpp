// The audit file on POSIX: O_APPEND, so a line always lands at the end even
// when another station appends to the same file, and fdatasync per line, so a
// record the log reported written survives a crash or a power cut.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "audit/audit_log.h"

namespace vexel::cli {
namespace {

class AuditFile final : public AuditSink {
 public:
  AuditFile(int fd, bool partialLine) : m_fd(fd), m_partialLine(partialLine) {}
  ~AuditFile() override { ::close(m_fd); }
  AuditFile(const AuditFile&) = delete;
  AuditFile& operator=(const AuditFile&) = delete;

  int Append(const std::string& line) override {
    struct stat before {};
    if (::fstat(m_fd, &before) != 0) return errno;
    int error = WriteAll(m_partialLine ? '\n' + line : line);
    if (error == 0) m_partialLine = false;
    // A pipe or a terminal as the log has nothing to sync (EINVAL).
    if (error == 0 && ::fdatasync(m_fd) != 0 && errno != EINVAL) error = errno;
    if (error != 0 && S_ISREG(before.st_mode)) {
      while (::ftruncate(m_fd, before.st_size) != 0 && errno == EINTR) {
      }
    }
    return error;
  }

 private:
  int WriteAll(const std::string& line) {
    size_t done = 0;
    while (done < line.size()) {
      const ssize_t n = ::write(m_fd, line.data() + done, line.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return errno;
      if (n == 0) return EIO;
      done += static_cast<size_t>(n);
    }
    return 0;
  }

  int m_fd;
  bool m_partialLine;  // the file does not end with a newline
};

bool EndsInPartialLine(int fd) {
  struct stat file {};
  char last = '\n';
  if (::fstat(fd, &file) != 0 || !S_ISREG(file.st_mode) || file.st_size == 0) return false;
  return ::pread(fd, &last, 1, file.st_size - 1) == 1 && last != '\n';
}

}  // namespace

std::string AuditLogRefusal(const std::string& path, const std::string& imagePath) {
  struct stat log {};
  if (::stat(path.c_str(), &log) != 0) return {};  // a new file, or a failure open words
  if (!S_ISREG(log.st_mode)) {
    return path + " is not a regular file: the audit log is never a port, a terminal or a pipe";
  }
  struct stat image {};
  if (::stat(imagePath.c_str(), &image) == 0 && image.st_dev == log.st_dev &&
      image.st_ino == log.st_ino) {
    return path + " is the image file " + imagePath;
  }
  return {};
}

std::unique_ptr<AuditSink> OpenAuditFile(const std::string& path, int& osError) {
  int fd = -1;
  // O_NONBLOCK and O_NOCTTY: should a pipe or a terminal have taken the
  // name since it was checked, the open neither waits for a reader nor
  // takes a controlling terminal.
  do {
    fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK,
                0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    osError = errno;
    return nullptr;
  }
  osError = 0;
  return std::make_unique<AuditFile>(fd, EndsInPartialLine(fd));
}

std::string HostName() {
  // HOST_NAME_MAX is 64 on Linux; a longer buffer costs nothing and the
  // terminating zero is not promised when the name is cut short.
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

uint64_t ProcessId() { return static_cast<uint64_t>(::getpid()); }

}  // namespace vexel::cli

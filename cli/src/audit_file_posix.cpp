// The audit file on POSIX: O_APPEND, so a line always lands at the end even
// when another station appends to the same file, and fdatasync per line, so a
// record the log reported written survives a crash or a power cut.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "cli/audit_log.h"

namespace vexel::cli {
namespace {

class AuditFile final : public AuditSink {
 public:
  explicit AuditFile(int fd) : m_fd(fd) {}
  ~AuditFile() override { ::close(m_fd); }
  AuditFile(const AuditFile&) = delete;
  AuditFile& operator=(const AuditFile&) = delete;

  int Append(const std::string& line) override {
    struct stat before {};
    if (::fstat(m_fd, &before) != 0) return errno;
    int error = WriteAll(line);
    // A pipe or a terminal as the log has nothing to sync (EINVAL).
    if (error == 0 && ::fdatasync(m_fd) != 0 && errno != EINVAL) error = errno;
    // A partly written line would glue itself to the next record: cut it off.
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
};

}  // namespace

std::unique_ptr<AuditSink> OpenAuditFile(const std::string& path, int& osError) {
  int fd = -1;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    osError = errno;
    return nullptr;
  }
  osError = 0;
  return std::make_unique<AuditFile>(fd);
}

std::string HostName() {
  // HOST_NAME_MAX is 64 on Linux; a longer buffer costs nothing and the
  // terminating zero is not promised when the name is cut short.
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

}  // namespace vexel::cli

// Linux has no mandatory locks, so other writers cannot be locked out of the
// image. Instead the whole file is read once into memory and checked against
// its size and change times before and after: every run sends one version.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <new>

#include "protocol/image_file.h"

namespace vexel {
namespace {

constexpr int kSnapshotAttempts = 3;

bool SameVersion(const struct stat& a, const struct stat& b) {
  return a.st_size == b.st_size && a.st_ino == b.st_ino && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
         a.st_mtim.tv_nsec == b.st_mtim.tv_nsec && a.st_ctim.tv_sec == b.st_ctim.tv_sec &&
         a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// Reads the file from its start to its end; false on a read error or when it
// holds other than @p expected bytes.
bool ReadAll(int fd, std::vector<uint8_t>& data, size_t expected) {
  data.assign(expected, 0);
  size_t done = 0;
  while (done < expected) {
    const ssize_t n = ::pread(fd, data.data() + done, expected - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  uint8_t extra = 0;
  return ::pread(fd, &extra, 1, static_cast<off_t>(done)) == 0;
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : m_fd(fd) {}
  ~Descriptor() {
    if (m_fd >= 0) ::close(m_fd);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return m_fd; }

 private:
  int m_fd;
};

}  // namespace

bool SnapshotImageFile::Open(const std::string& path) {
  Close();
  if (m_fixed) return ServeShared();
  // O_NONBLOCK keeps a FIFO or device from blocking the open; they are refused below.
  Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (file.get() < 0) {
    m_lastError = std::strerror(errno);
    return false;
  }
  // Writers that take the advisory lock are kept out while the snapshot is read.
  if (::flock(file.get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    m_lastError = "the file is being written by another program";
    return false;
  }
  for (int attempt = 0; attempt < kSnapshotAttempts; ++attempt) {
    struct stat before {};
    struct stat after {};
    if (::fstat(file.get(), &before) != 0) {
      m_lastError = std::strerror(errno);
      return false;
    }
    if (!S_ISREG(before.st_mode)) {
      m_lastError = "not a regular file";
      return false;
    }
    if (static_cast<unsigned long long>(before.st_size) > std::numeric_limits<uint32_t>::max()) {
      m_lastError = "longer than the 4294967295 bytes an image may have";
      return false;
    }
    auto data = std::make_shared<std::vector<uint8_t>>();
    try {
      const bool read = ReadAll(file.get(), *data, static_cast<size_t>(before.st_size));
      if (read && ::fstat(file.get(), &after) == 0 && SameVersion(before, after)) {
        m_data = std::move(data);
        m_position = 0;
        m_open = true;
        m_lastError.clear();
        return true;
      }
    } catch (const std::bad_alloc&) {
      m_lastError = std::strerror(ENOMEM);  // more than the process may hold
      return false;
    }
  }
  m_lastError = "the file kept changing while it was read";
  return false;
}

void SnapshotImageFile::Close() {
  m_data.reset();  // the image is not held beyond its run
  m_position = 0;
  m_open = false;
}

}  // namespace vexel

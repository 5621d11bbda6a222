#include "image_sink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vexel::sim {
namespace {

std::string Why(const std::string& path) { return path + ": " + std::strerror(errno); }

bool IsDir(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool WriteAll(int fd, const std::vector<uint8_t>& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Written beside the target and renamed over it, so a reader of the file never
// sees half an image.
bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& data,
                         std::string& error) {
  const std::string temp = path + ".part";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return error = Why(temp), false;
  const bool written = WriteAll(fd, data);
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || ::rename(temp.c_str(), path.c_str()) != 0) {
    error = Why(path);
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace

bool ImageSink::Prepare(std::string& error) {
  if (!Enabled()) return true;
  if (IsDirectory()) {
    if (IsDir(m_out) || ::mkdir(m_out.c_str(), 0755) == 0) return true;
    return error = Why(m_out), false;
  }
  const size_t slash = m_out.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : m_out.substr(0, slash + 1);
  if (IsDir(dir)) return true;
  error = dir + ": no such directory";
  return false;
}

std::string ImageSink::Save(size_t index, const std::vector<uint8_t>& image, std::string& error) {
  if (!Enabled()) return "";
  const std::string path = PathFor(index);
  return WriteFileAtomically(path, image, error) ? path : "";
}

std::string ImageSink::PathFor(size_t index) const {
  if (!IsDirectory()) return m_out;
  char name[32];
  std::snprintf(name, sizeof name, "image-%04zu.mbf", index);
  return m_out + name;
}

}  // namespace vexel::sim

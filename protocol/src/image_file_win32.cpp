// The image file on Windows: opened sharing reading only, so no other program
// can write to it while it is open, and read once into memory. The handle is
// kept until Close, which keeps writers out for the whole run.
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "protocol/image_file.h"
#include "winsupport/system_text.h"
#include "winsupport/unique_handle.h"
#include "winsupport/utf16.h"

namespace vexel {
namespace {

bool ReadAll(HANDLE file, std::vector<uint8_t>& data, size_t expected) {
  data.assign(expected, 0);
  size_t done = 0;
  while (done < expected) {
    DWORD n = 0;
    const DWORD want = static_cast<DWORD>(expected - done);
    if (!::ReadFile(file, data.data() + done, want, &n, nullptr) || n == 0) return false;
    done += n;
  }
  return true;
}

}  // namespace

bool SnapshotImageFile::Open(const std::string& path) {
  Close();
  if (m_fixed) return ServeShared();
  HANDLE file = ::CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    m_lastError = SystemErrorText(::GetLastError());
    return false;
  }
  m_hFile = file;  // released by ReleaseFile
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file, &info)) {
    m_lastError = SystemErrorText(::GetLastError());
  } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
             ::GetFileType(file) != FILE_TYPE_DISK) {
    m_lastError = "not a regular file";
  } else if (info.nFileSizeHigh != 0) {
    m_lastError = "longer than the 4294967295 bytes an image may have";
  } else {
    try {
      auto data = std::make_shared<std::vector<uint8_t>>();
      if (ReadAll(file, *data, info.nFileSizeLow)) {
        m_data = std::move(data);
        m_position = 0;
        m_open = true;
        m_lastError.clear();
        return true;
      }
      m_lastError = "the file could not be read to its end";
    } catch (const std::bad_alloc&) {
      m_lastError = std::strerror(ENOMEM);  // more than the process may hold
    }
  }
  ReleaseFile();
  return false;
}

void SnapshotImageFile::ReleaseFile() { UniqueHandle closing(std::exchange(m_hFile, nullptr)); }

void SnapshotImageFile::Close() {
  ReleaseFile();
  m_data.reset();  // the image is not held beyond its run
  m_position = 0;
  m_open = false;
}

}  // namespace vexel

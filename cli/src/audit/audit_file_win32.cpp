// The audit file on Windows: each line is written at the end of the file as
// it is then and flushed with FlushFileBuffers, so a record the log reported
// written survives a crash or a power cut. Others may read the file meanwhile.
#include <windows.h>

#include <string>

#include "audit/audit_log.h"

namespace vexel::cli {
namespace {

std::wstring WideOf(const std::string& utf8) {
  const int size = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                         nullptr, 0);
  std::wstring wide(static_cast<size_t>(size > 0 ? size : 0), L'\0');
  if (size > 0) {
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
  }
  return wide;
}

std::string Utf8Of(const std::wstring& wide) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), size,
                          nullptr, nullptr);
  }
  return utf8;
}

class AuditFile final : public AuditSink {
 public:
  AuditFile(HANDLE file, bool partialLine) : m_file(file), m_partialLine(partialLine) {}
  ~AuditFile() override { ::CloseHandle(m_file); }
  AuditFile(const AuditFile&) = delete;
  AuditFile& operator=(const AuditFile&) = delete;

  int Append(const std::string& line) override {
    LARGE_INTEGER end{};
    if (!::GetFileSizeEx(m_file, &end) || !::SetFilePointerEx(m_file, end, nullptr, FILE_BEGIN)) {
      return static_cast<int>(::GetLastError());
    }
    // The tail of a line cut short by a crash keeps its own line.
    DWORD error = WriteAll(m_partialLine ? '\n' + line : line);
    if (error == 0) m_partialLine = false;
    if (error == 0 && !::FlushFileBuffers(m_file)) error = ::GetLastError();
    // A partly written line would glue itself to the next record: cut it off.
    if (error != 0 && ::SetFilePointerEx(m_file, end, nullptr, FILE_BEGIN)) ::SetEndOfFile(m_file);
    return static_cast<int>(error);
  }

 private:
  DWORD WriteAll(const std::string& line) {
    size_t done = 0;
    while (done < line.size()) {
      DWORD n = 0;
      const auto want = static_cast<DWORD>(line.size() - done);
      if (!::WriteFile(m_file, line.data() + done, want, &n, nullptr)) return ::GetLastError();
      if (n == 0) return ERROR_WRITE_FAULT;
      done += n;
    }
    return 0;
  }

  HANDLE m_file;
  bool m_partialLine;  // the file does not end with a newline
};

bool EndsInPartialLine(HANDLE file) {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file, &size) || size.QuadPart == 0) return false;
  LARGE_INTEGER last{};
  last.QuadPart = size.QuadPart - 1;
  char byte = '\n';
  DWORD n = 0;
  if (!::SetFilePointerEx(file, last, nullptr, FILE_BEGIN)) return false;
  return ::ReadFile(file, &byte, 1, &n, nullptr) && n == 1 && byte != '\n';
}

// A handle for looking at a file only; null when there is none.
HANDLE OpenToLookAt(const std::string& path) {
  HANDLE file = ::CreateFileW(WideOf(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

}  // namespace

std::string AuditLogRefusal(const std::string& path, const std::string& imagePath) {
  HANDLE log = OpenToLookAt(path);
  if (log == nullptr) return {};  // a new file, or a failure the open words
  BY_HANDLE_FILE_INFORMATION logInfo{};
  const bool disk = ::GetFileType(log) == FILE_TYPE_DISK &&
                    ::GetFileInformationByHandle(log, &logInfo) &&
                    (logInfo.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  ::CloseHandle(log);
  if (!disk) {
    return path + " is not a regular file: the audit log is never a port, a terminal or a pipe";
  }
  HANDLE image = OpenToLookAt(imagePath);
  if (image == nullptr) return {};
  BY_HANDLE_FILE_INFORMATION imageInfo{};
  const bool same = ::GetFileInformationByHandle(image, &imageInfo) &&
                    imageInfo.dwVolumeSerialNumber == logInfo.dwVolumeSerialNumber &&
                    imageInfo.nFileIndexHigh == logInfo.nFileIndexHigh &&
                    imageInfo.nFileIndexLow == logInfo.nFileIndexLow;
  ::CloseHandle(image);
  return same ? path + " is the image file " + imagePath : std::string();
}

std::unique_ptr<AuditSink> OpenAuditFile(const std::string& path, int& osError) {
  HANDLE file = ::CreateFileW(WideOf(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    osError = static_cast<int>(::GetLastError());
    return nullptr;
  }
  osError = 0;
  return std::make_unique<AuditFile>(file, EndsInPartialLine(file));
}

std::string HostName() {
  DWORD size = 0;
  ::GetComputerNameExW(ComputerNameDnsHostname, nullptr, &size);
  std::wstring name(size, L'\0');
  if (size == 0 || !::GetComputerNameExW(ComputerNameDnsHostname, name.data(), &size)) return {};
  name.resize(size);
  return Utf8Of(name);
}

uint64_t ProcessId() { return ::GetCurrentProcessId(); }

}  // namespace vexel::cli

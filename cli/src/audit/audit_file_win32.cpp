// The audit file on Windows: each line is written at the end of the file as
// it is then and flushed with FlushFileBuffers, so a record the log reported
// written survives a crash or a power cut. Others may read the file meanwhile.
#include <windows.h>

#include <string>
#include <utility>

#include "audit/audit_log.h"
#include "winsupport/unique_handle.h"
#include "winsupport/utf16.h"

namespace vexel::cli {
namespace {

class AuditFile final : public AuditSink {
 public:
  AuditFile(UniqueHandle file, bool partialLine)
      : m_file(std::move(file)), m_partialLine(partialLine) {}

  int Append(const std::string& line) override {
    LARGE_INTEGER end{};
    if (!::GetFileSizeEx(m_file.get(), &end) ||
        !::SetFilePointerEx(m_file.get(), end, nullptr, FILE_BEGIN)) {
      return static_cast<int>(::GetLastError());
    }
    DWORD error = WriteAll(m_partialLine ? '\n' + line : line);
    if (error == 0) m_partialLine = false;
    if (error == 0 && !::FlushFileBuffers(m_file.get())) error = ::GetLastError();
    if (error != 0 && ::SetFilePointerEx(m_file.get(), end, nullptr, FILE_BEGIN))
      ::SetEndOfFile(m_file.get());
    return static_cast<int>(error);
  }

 private:
  DWORD WriteAll(const std::string& line) {
    size_t done = 0;
    while (done < line.size()) {
      DWORD n = 0;
      const auto want = static_cast<DWORD>(line.size() - done);
      if (!::WriteFile(m_file.get(), line.data() + done, want, &n, nullptr))
        return ::GetLastError();
      if (n == 0) return ERROR_WRITE_FAULT;
      done += n;
    }
    return 0;
  }

  UniqueHandle m_file;
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

// A handle for looking at a file only; empty when there is none.
UniqueHandle OpenToLookAt(const std::string& path) {
  return OwnFile(::CreateFileW(Widen(path).c_str(), 0,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

}  // namespace

std::string AuditLogRefusal(const std::string& path, const std::string& imagePath) {
  UniqueHandle log = OpenToLookAt(path);
  if (log == nullptr) return {};  // a new file, or a failure the open words
  BY_HANDLE_FILE_INFORMATION logInfo{};
  const bool disk = ::GetFileType(log.get()) == FILE_TYPE_DISK &&
                    ::GetFileInformationByHandle(log.get(), &logInfo) &&
                    (logInfo.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  if (!disk) {
    return path + " is not a regular file: the audit log is never a port, a terminal or a pipe";
  }
  UniqueHandle image = OpenToLookAt(imagePath);
  if (image == nullptr) return {};
  BY_HANDLE_FILE_INFORMATION imageInfo{};
  const bool same = ::GetFileInformationByHandle(image.get(), &imageInfo) &&
                    imageInfo.dwVolumeSerialNumber == logInfo.dwVolumeSerialNumber &&
                    imageInfo.nFileIndexHigh == logInfo.nFileIndexHigh &&
                    imageInfo.nFileIndexLow == logInfo.nFileIndexLow;
  return same ? path + " is the image file " + imagePath : std::string();
}

std::unique_ptr<AuditSink> OpenAuditFile(const std::string& path, int& osError) {
  UniqueHandle file = OwnFile(::CreateFileW(Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                            FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file == nullptr) {
    osError = static_cast<int>(::GetLastError());
    return nullptr;
  }
  osError = 0;
  const bool partialLine = EndsInPartialLine(file.get());
  return std::make_unique<AuditFile>(std::move(file), partialLine);
}

std::string HostName() {
  DWORD size = 0;
  ::GetComputerNameExW(ComputerNameDnsHostname, nullptr, &size);
  std::wstring name(size, L'\0');
  if (size == 0 || !::GetComputerNameExW(ComputerNameDnsHostname, name.data(), &size)) return {};
  name.resize(size);
  return Narrow(name);
}

uint64_t ProcessId() { return ::GetCurrentProcessId(); }

}  // namespace vexel::cli

// The audit file on Windows: each line is written at the end of the file as
// it is then and flushed with FlushFileBuffers, so a record the log reported
// written survives a crash or a power cut. Others may read the file meanwhile.
#include <windows.h>

#include <string>

#include "cli/audit_log.h"

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
  explicit AuditFile(HANDLE file) : m_file(file) {}
  ~AuditFile() override { ::CloseHandle(m_file); }
  AuditFile(const AuditFile&) = delete;
  AuditFile& operator=(const AuditFile&) = delete;

  int Append(const std::string& line) override {
    LARGE_INTEGER end{};
    if (!::GetFileSizeEx(m_file, &end) || !::SetFilePointerEx(m_file, end, nullptr, FILE_BEGIN)) {
      return static_cast<int>(::GetLastError());
    }
    DWORD error = WriteAll(line);
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
};

}  // namespace

std::unique_ptr<AuditSink> OpenAuditFile(const std::string& path, int& osError) {
  HANDLE file = ::CreateFileW(WideOf(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    osError = static_cast<int>(::GetLastError());
    return nullptr;
  }
  osError = 0;
  return std::make_unique<AuditFile>(file);
}

std::string HostName() {
  DWORD size = 0;
  ::GetComputerNameExW(ComputerNameDnsHostname, nullptr, &size);
  std::wstring name(size, L'\0');
  if (size == 0 || !::GetComputerNameExW(ComputerNameDnsHostname, name.data(), &size)) return {};
  name.resize(size);
  return Utf8Of(name);
}

}  // namespace vexel::cli

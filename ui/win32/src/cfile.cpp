#include "ui/cfile.h"

namespace vexel {

bool CFile::Open(const std::string& path) {
  Close();
  const HANDLE handle = ::CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  UniqueHandle file(handle);
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(handle, &size) || size.QuadPart < 0 || size.QuadPart > 0xFFFFFFFFLL) {
    return false;
  }
  m_hFile = std::move(file);
  m_length = static_cast<uint32_t>(size.QuadPart);
  m_position = 0;
  return true;
}

void CFile::Close() {
  m_hFile.reset();
  m_length = 0;
  m_position = 0;
}

uint32_t CFile::Read(void* buffer, uint32_t count) {
  DWORD done = 0;
  if (m_hFile == nullptr || !::ReadFile(m_hFile.get(), buffer, count, &done, nullptr)) return 0;
  m_position += done;
  return done;
}

}  // namespace vexel

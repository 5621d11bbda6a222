#include "winsupport/utf16.h"

#include <windows.h>

namespace vexel {

// Without MB_ERR_INVALID_CHARS both directions replace what does not convert
// with U+FFFD instead of failing, so a text always reaches the user.
std::wstring Widen(std::string_view text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int count = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
  std::wstring wide(static_cast<size_t>(count > 0 ? count : 0), L'\0');
  if (count > 0) ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), count);
  return wide;
}

std::string Narrow(std::wstring_view text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int count = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr,
                                          nullptr);
  std::string narrow(static_cast<size_t>(count > 0 ? count : 0), '\0');
  if (count > 0) {
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, narrow.data(), count, nullptr, nullptr);
  }
  return narrow;
}

}  // namespace vexel

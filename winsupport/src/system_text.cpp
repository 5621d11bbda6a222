#include "winsupport/system_text.h"

#include <windows.h>

#include "winsupport/utf16.h"

namespace vexel {

// The wide form: the ANSI one words the message in the system's code page,
// which is not UTF-8 on most non-English systems.
std::string SystemErrorText(uint32_t error) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string utf8 = length > 0 ? Narrow(std::wstring_view(text, length)) : std::string();
  if (text != nullptr) ::LocalFree(text);
  while (!utf8.empty() && (utf8.back() == '\n' || utf8.back() == '\r' || utf8.back() == ' ')) {
    utf8.pop_back();
  }
  return utf8.empty() ? "Error " + std::to_string(error) : utf8;
}

}  // namespace vexel

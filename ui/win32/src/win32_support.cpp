#include "ui/win32_support.h"

#include <vector>

namespace vexel {

std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int length = static_cast<int>(text.size());
  const int count = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
  std::wstring wide(static_cast<size_t>(count), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), count);
  return wide;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int length = static_cast<int>(text.size());
  const int count =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(count), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, narrow.data(), count, nullptr, nullptr);
  return narrow;
}

// The module path can exceed MAX_PATH; grow the buffer until it fits.
std::wstring AppName() {
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const DWORD size = static_cast<DWORD>(path.size());
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), size);
    if (length < size) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  std::wstring name(path.begin(), path.end());
  const size_t slash = name.find_last_of(L"\\/");
  if (slash != std::wstring::npos) name.erase(0, slash + 1);
  const size_t dot = name.find_last_of(L'.');
  if (dot != std::wstring::npos && dot != 0) name.erase(dot);
  return name;
}

HINSTANCE ResourceInstance() { return ::GetModuleHandleW(nullptr); }

void AppMessageBox(HWND owner, const std::string& text) {
  ::MessageBoxW(owner, Widen(text).c_str(), AppName().c_str(), MB_OK);
}

}  // namespace vexel

#include "ui/win32_support.h"

#include <vector>

namespace vexel {

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

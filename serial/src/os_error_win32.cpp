// On Windows the result codes are GetLastError's values, so an OS error maps
// to itself; their texts come from the system's message tables.
#include <windows.h>

#include <string>

#include "comm_api.h"

namespace vexel {
namespace comm {
namespace {

thread_local int t_lastOsError = 0;

}  // namespace

int LastOsError() { return t_lastOsError; }

int32_t MapOsError(int osError) { return static_cast<int32_t>(osError); }

int32_t RecordOsError(int osError) {
  t_lastOsError = osError;
  return MapOsError(osError);
}

}  // namespace comm

namespace {

// The class's own codes read the same on every platform.
struct ResultText {
  int32_t code;
  const char* text;
};
constexpr ResultText kOwnTexts[] = {
    {kResultOk, "Success"},
    {kErrorInvalidHandle, "The port is not open"},
    {kErrorAlreadyInitialized, "The port is already open"},
    {kErrorTimeout, "The operation timed out"},
    {kErrorInvalidArg, "Invalid argument"},
};

std::string Utf8Of(const wchar_t* text, int length) {
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
  if (bytes > 0) ::WideCharToMultiByte(CP_UTF8, 0, text, length, utf8.data(), bytes, nullptr, nullptr);
  return utf8;
}

// The system's text without its line end; empty when it has none.
std::string SystemText(int32_t code) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string utf8 = length > 0 ? Utf8Of(text, static_cast<int>(length)) : std::string();
  if (text != nullptr) ::LocalFree(text);
  while (!utf8.empty() && (utf8.back() == '\n' || utf8.back() == '\r' || utf8.back() == ' ')) {
    utf8.pop_back();
  }
  return utf8;
}

}  // namespace

std::string DescribeResult(int32_t code) {
  for (const ResultText& r : kOwnTexts) {
    if (r.code == code) return r.text;
  }
  std::string text = SystemText(code);
  return text.empty() ? "Error " + std::to_string(code) : text;
}

// Worded like strerror's texts, which the loader's messages go on after
// ("...: Access denied; the port is in use by another program"): the
// system's text without its closing full stop.
std::string DescribeOsError(int osError) {
  std::string text = SystemText(osError);
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text.empty() ? "Error " + std::to_string(osError) : text;
}

}  // namespace vexel

// On Windows the result codes are GetLastError's values, so an OS error maps
// to itself; their texts come from the system's message tables.
#include <string>

#include "comm_api.h"
#include "winsupport/system_text.h"

namespace vexel {
namespace comm {

int32_t MapOsError(int osError) { return static_cast<int32_t>(osError); }

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

}  // namespace

std::string DescribeResult(int32_t code) {
  for (const ResultText& r : kOwnTexts) {
    if (r.code == code) return r.text;
  }
  return SystemErrorText(static_cast<uint32_t>(code));
}

// Worded like strerror's texts, which the loader's messages go on after
// ("...: Access denied; the port is in use by another program"): the
// system's text without its closing full stop.
std::string DescribeOsError(int osError) {
  std::string text = SystemErrorText(static_cast<uint32_t>(osError));
  if (text.back() == '.') text.pop_back();
  return text;
}

}  // namespace vexel

// errno to the nearest Win32 result code, and the texts of the codes.
#include <cerrno>
#include <cstring>
#include <string>

#include "comm_api.h"

namespace vexel {
namespace comm {
namespace {

struct ErrnoEntry {
  int osError;
  int32_t code;
};
// clang-format off
constexpr ErrnoEntry kErrnoTable[] = {
    {ENOENT, kErrorFileNotFound},      {ENODEV, kErrorFileNotFound},
    {ENXIO, kErrorFileNotFound},       {ENOTDIR, kErrorPathNotFound},
    {EMFILE, kErrorTooManyOpenFiles},  {ENFILE, kErrorTooManyOpenFiles},
    {EACCES, kErrorAccessDenied},      {EPERM, kErrorAccessDenied},
    {EBUSY, kErrorAccessDenied},       {EWOULDBLOCK, kErrorAccessDenied},  // flock: held elsewhere
    {EBADF, kErrorInvalidHandle},      {ENOMEM, kErrorNotEnoughMemory},
    {ENOTTY, kErrorInvalidFunction},   {EINVAL, kErrorInvalidParameter},
    {EOPNOTSUPP, kErrorNotSupported},  {ENOSYS, kErrorNotSupported},
    {EPIPE, kErrorBrokenPipe},         {ENAMETOOLONG, kErrorFilenameTooLong},
    {ECANCELED, kErrorOperationAborted}, {EIO, kErrorIoDevice},
    {ETIMEDOUT, kErrorTimeout},
};
// clang-format on

}  // namespace

int32_t MapOsError(int osError) {
  for (const ErrnoEntry& e : kErrnoTable) {
    if (e.osError == osError) return e.code;
  }
  return kErrorGenFailure;
}

}  // namespace comm

namespace {

// Codes of the class's own and those whose errno text would mislead; the
// other mapped codes take the text of their first errno.
struct ResultText {
  int32_t code;
  const char* text;
};
constexpr ResultText kResultTexts[] = {
    {kResultOk, "Success"},
    {kErrorInvalidFunction, "Not a serial line"},
    {kErrorAccessDenied, "Access denied: the port is in use or not permitted"},
    {kErrorInvalidHandle, "The port is not open"},
    {kErrorGenFailure, "The serial line failed"},
    {kErrorNotSupported, "The serial line does not support this setting"},
    {kErrorInvalidParameter, "The serial line refuses this setting"},
    {kErrorOperationAborted, "The operation was cancelled"},
    {kErrorIoIncomplete, "The operation has not completed yet"},
    {kErrorIoPending, "The operation is pending"},
    {kErrorIoDevice, "The serial line hung up or failed (input/output error)"},
    {kErrorAlreadyInitialized, "The port is already open"},
    {kErrorTimeout, "The operation timed out"},
    {kErrorInvalidArg, "Invalid argument"},
};

}  // namespace

std::string DescribeResult(int32_t code) {
  for (const ResultText& r : kResultTexts) {
    if (r.code == code) return r.text;
  }
  for (const comm::ErrnoEntry& e : comm::kErrnoTable) {
    if (e.code == code) return std::strerror(e.osError);
  }
  return "Error " + std::to_string(code);
}

std::string DescribeOsError(int osError) { return std::strerror(osError); }

}  // namespace vexel

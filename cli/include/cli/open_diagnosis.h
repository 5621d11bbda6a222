// Why a serial port could not be opened, in words a user can act on. The
// OS error is the serial library's (CSerialPort::LastOsError); each platform
// words its usual causes (open_diagnosis_posix.cpp, open_diagnosis_win32.cpp).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace vexel::cli {

struct PortHolder {
  pid_t pid = 0;
  std::string name;  ///< the process's command name (/proc/PID/comm)
};

/// Linux: the processes other than @p self that have @p device open, found through
/// @p procRoot/PID/fd. Processes whose descriptors cannot be read are skipped.
std::vector<PortHolder> FindPortHolders(const std::string& device, const std::string& procRoot,
                                        pid_t self);

/// Linux: the processes holding a lock on @p device, from @p procRoot/locks.
std::vector<PortHolder> FindLockHolders(const std::string& device, const std::string& procRoot);

/// The reason an open of @p device failed with OS error @p osError: the OS
/// text, and for the usual causes what to do. Linux: for permission denied
/// the device's group and how to join it, for a busy port who holds it (the
/// owner of its lock, else the other processes that have it open; found
/// under @p procRoot). Windows: access denied is a port in use by another
/// program, file not found a COM port this machine does not have. Empty
/// when @p osError is 0.
std::string DescribeOpenFailure(const std::string& device, int osError,
                                const std::string& procRoot = "/proc");

}  // namespace vexel::cli

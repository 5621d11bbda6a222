// Why a serial port could not be opened, in words a user can act on. The
// OS error is the serial library's (CSerialPort::LastOsError); each platform
// words its usual causes (open_diagnosis_posix.cpp, open_diagnosis_win32.cpp).
#pragma once

#include <string>
#include <vector>

namespace vexel::cli {

/// The reason an open of @p device failed with OS error @p osError: the OS
/// text, and for the usual causes what to do. Linux: for permission denied
/// the device's group and how to join it, for a busy port who holds it (the
/// owner of its lock, else the other processes that have it open; found
/// under @p procRoot). Windows: access denied is a port in use by another
/// program, file not found a COM port this machine does not have. Empty
/// when @p osError is 0.
std::string DescribeOpenFailure(const std::string& device, int osError,
                                const std::string& procRoot = "/proc");

/// What on this machine takes @p device away from a loader, each with its
/// fix, found under @p root (standing for "/": proc, sys, run/udev/data).
/// Linux: ModemManager running while the device, a USB one, is not marked
/// ID_MM_DEVICE_IGNORE in the udev database (it probes new ports with AT
/// commands and holds them meanwhile); brltty running while a CH340/CH341
/// adapter (USB vendor 1a86) is plugged in (it claims them as Braille
/// displays and their port vanishes). Windows: none.
std::vector<std::string> FindPortTraps(const std::string& device, const std::string& root = "/");

/// Empty when this user may read and write @p device, else why not and what
/// to do (Linux: the group to join, as for a failed open). Windows: empty.
std::string DescribeAccess(const std::string& device);

/// @p reason, followed by each of @p traps, joined by "; ".
std::string WithTraps(std::string reason, const std::vector<std::string>& traps);

}  // namespace vexel::cli

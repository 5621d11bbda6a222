// The latency timer of a USB serial adapter: how long it holds a short
// reply before sending it. At 16 ms (FTDI's default) every reply of the
// stop-and-wait exchange waits that long, which about doubles a load.
#pragma once

#include <string>

namespace vexel::cli {

/// The latency timer, in milliseconds, of the adapter behind @p device, or
/// -1 when it has none. Linux: @p root/sys/class/tty/NAME/device/latency_timer,
/// NAME being the tty @p device leads to once its links are followed
/// (a /dev/serial/by-id link, a link of VEXEL_COMn). @p root stands for "/"
/// so that tests can pass a fake tree.
int ReadLatencyTimer(const std::string& device, const std::string& root = "/");

/// Linux: the tty's name ("ttyUSB0") that @p device leads to once its links
/// are followed inside @p root.
std::string TtyNameOf(const std::string& device, const std::string& root = "/");

/// Empty, or when @p device's latency timer is above 1 ms, a warning with
/// the fix the user can apply (Linux: the sysfs write and a udev rule line).
std::string LatencyWarning(const std::string& device, const std::string& root = "/");

}  // namespace vexel::cli

// How a port name becomes the device that Open opens.
#pragma once

#include <string>

namespace vexel {

/// On Linux, "COMn" (n from 1, any case of "COM", no leading zero) names the
/// device in the environment variable VEXEL_COMn when it is set, else
/// /dev/ttyS{n-1}; a name that contains '/' is a device path used as it
/// stands (/dev/ttyUSB0, /dev/serial/by-id/... links). On Windows "COMn"
/// becomes \\.\COMn, so COM10 and up open too. Any other name is used as it
/// stands, and Open then fails with the platform's code.
std::string ResolvePortName(const std::string& name);

}  // namespace vexel

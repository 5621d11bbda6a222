// This machine's serial ports as sysfs describes them, found without
// opening any of them.
#pragma once

#include <string>
#include <vector>

namespace vexel::cli {

struct SerialPortInfo {
  std::string device;   ///< "/dev/ttyUSB0"
  std::string byId;     ///< the /dev/serial/by-id link to it, or empty
  std::string usbId;    ///< "vendor:product" in hex, or empty when not on USB
  std::string serial;   ///< the USB serial number, or empty
  std::string product;  ///< the USB product text, or empty
};

/// Walks @p root/sys/class/tty: entries without a device behind them
/// (consoles, pseudo-terminals) and UART slots the kernel reserved without
/// finding a UART (type 0) are left out. @p root stands for "/" so that
/// tests can pass a fake tree. Sorted by name, ttyS2 before ttyS10.
std::vector<SerialPortInfo> FindSerialPorts(const std::string& root = "/");

/// One aligned row per port under a header; "-" where nothing is known.
std::string FormatPortTable(const std::vector<SerialPortInfo>& ports);

}  // namespace vexel::cli

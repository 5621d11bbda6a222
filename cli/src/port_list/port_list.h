// This machine's serial ports as the system describes them (Linux: sysfs,
// Windows: the registry and the device manager), found without opening any
// of them.
#pragma once

#include <string>
#include <vector>

namespace vexel::cli {

struct SerialPortInfo {
  std::string device;   ///< "/dev/ttyUSB0", "COM3"
  std::string byId;     ///< the /dev/serial/by-id link to it, or empty (Windows: always)
  std::string usbId;    ///< "vendor:product" in hex, or empty when not on USB
  std::string serial;   ///< the USB serial number, or empty
  std::string product;  ///< the USB product text (Windows: the friendly name), or empty
  std::string driver;   ///< the kernel driver ("ftdi_sio"; Windows: the service), or empty
  std::string latency;  ///< the adapter's latency timer, "16 ms", or empty when it has none
};

/// Linux: walks @p root/sys/class/tty: entries without a device behind them
/// (consoles, pseudo-terminals) and UART slots the kernel reserved without
/// finding a UART (type 0) are left out. @p root stands for "/" so that
/// tests can pass a fake tree. Windows: the COM ports of
/// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, with the friendly name and USB
/// identity the device manager gives and, for an FTDI adapter, the
/// LatencyTimer of its device parameters (read only); @p root is not used. Sorted by name,
/// ttyS2 before ttyS10 (COM2 before COM10).
std::vector<SerialPortInfo> FindSerialPorts(const std::string& root = "/");

/// What the system knows of the adapter behind @p port (a name as -p takes
/// it), without opening it; only `device` is set when nothing is known
/// (a pseudo-terminal, a port that is not there). @p root as for
/// FindSerialPorts.
SerialPortInfo DescribePort(const std::string& port, const std::string& root = "/");

/// One aligned row per port under a header; "-" where nothing is known.
/// Linux: DEVICE, BY-ID, USB, SERIAL, PRODUCT, DRIVER, LATENCY; Windows:
/// DEVICE, USB, LATENCY ("16 ms"), NAME.
std::string FormatPortTable(const std::vector<SerialPortInfo>& ports);

/// The device @p port opens, named so that two names of one device give
/// the same text. Linux: the resolved path with its links followed;
/// Windows: the resolved name (\\.\COMn) in capitals, names being
/// case-blind there.
std::string DeviceIdentity(const std::string& port);

}  // namespace vexel::cli

// The serial line a port runner drives, with what the loader needs to word
// its failures.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "serial/serial_line.h"

namespace vexel::cli {

class PortLine {
 public:
  virtual ~PortLine() = default;
  virtual ISerialLine& Line() = 0;
  /// errno of the latest failed platform call on the line, 0 when none.
  virtual int LastOsError() const = 0;
  /// The device behind a port name ("COM1" resolves as the serial library
  /// resolves it; a path stays as given).
  virtual std::string DevicePath(const std::string& portName) const = 0;
  /// Words a serial result code when no OS error is known.
  virtual std::string DescribeResult(int32_t result) const = 0;
};

using PortLineFactory = std::function<std::unique_ptr<PortLine>()>;

/// A line on the serial library's CSerialCWnd: the real port.
std::unique_ptr<PortLine> MakeSerialPortLine();

}  // namespace vexel::cli

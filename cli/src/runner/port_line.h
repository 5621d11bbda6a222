// The serial line a port runner drives, with what the loader needs to word
// its failures.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "loop/event_loop.h"
#include "serial/serial_line.h"
#include "serial/serial_loop_line.h"
#include "serial/serial_port.h"

namespace vexel::cli {

class PortLine {
 public:
  virtual ~PortLine() = default;
  virtual ISerialLine& Line() = 0;
  /// The OS error of the latest failed platform call on the line, 0 when
  /// none (as CSerialPort::LastOsError).
  virtual int LastOsError() const = 0;
  /// Words an OS error of LastOsError.
  virtual std::string DescribeOsError(int osError) const { return vexel::DescribeOsError(osError); }
  /// The device behind a port name ("COM1" resolves as the serial library
  /// resolves it; a path stays as given).
  virtual std::string DevicePath(const std::string& portName) const = 0;
  /// Empty, or why the port must not be opened at all (the loader's own
  /// terminal); asked before the line is opened.
  virtual std::string Refusal(const std::string& /*portName*/) const { return {}; }
  /// Empty, or a warning about the adapter behind the open port (its latency
  /// timer still above 1 ms); asked once the line is open.
  virtual std::string AdapterWarning(const std::string& /*portName*/) const { return {}; }
  /// Words a serial result code when no OS error is known.
  virtual std::string DescribeResult(int32_t result) const = 0;
  /// Gives the line the loop it runs on: @p lineLoop, the runner's side of
  /// it, for a line that is serviced by its owner's event loop; lines that
  /// post their events ignore it.
  virtual void AttachEventLoop(LineEventLoop& /*lineLoop*/, EventLoop& /*loop*/) {}
};

using PortLineFactory = std::function<std::unique_ptr<PortLine>()>;

/// The real port, watched by the event loop the runner lives on
/// (CSerialLoopLine): one wake-up per reply.
std::unique_ptr<PortLine> MakeSerialPortLine();
/// The real port with a watcher thread of its own (CSerialCWnd), as the
/// dialog program has it; --watcher-threads.
std::unique_ptr<PortLine> MakeThreadedSerialPortLine();

}  // namespace vexel::cli

// The serial line operations the programming controller uses. The serial
// library's CSerialCWnd implements them on a real port; the simulator's
// in-memory port implements them for tests and demonstrations.
#pragma once

#include "serial/serial_types.h"

namespace vexel {

class ISerialLine {
 public:
  virtual ~ISerialLine() = default;

  /// Opens the port by name, exclusively, with the given queue sizes, and
  /// reports line events to @p target (message 0 = the default message).
  virtual int32_t Open(const char* portName, ComNotifyTarget* target, uint32_t message,
                       intptr_t lParam, uint32_t rxQueue, uint32_t txQueue) = 0;
  /// Stops event reporting and closes the port; 0 on a closed port.
  virtual int32_t Close() = 0;
  virtual int32_t SetLineFormat(uint32_t baudRate, uint8_t dataBits, uint8_t parity,
                                uint8_t stopBits) = 0;
  virtual int32_t SetFlowControl(FlowControl mode) = 0;
  virtual int32_t SetReadMode(ReadMode mode) = 0;
  /// Synchronous when @p overlapped is null: waits up to @p timeoutMs.
  virtual int32_t Write(const void* data, uint32_t length, uint32_t* count,
                        SerialOverlapped* overlapped, uint32_t timeoutMs) = 0;
  virtual int32_t Read(void* buffer, uint32_t length, uint32_t* count, SerialOverlapped* overlapped,
                       uint32_t timeoutMs) = 0;
};

}  // namespace vexel

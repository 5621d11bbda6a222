// A serial line without a watcher thread: its owner's event loop watches the
// line's wait handle and services the line when it is signalled. One thread
// does everything, so a reply costs one wake-up instead of two (the watcher's
// and then the owner's).
#pragma once

#include <cstdint>

#include "serial/serial_line.h"
#include "serial/serial_port.h"

namespace vexel {

class CSerialLoopLine;

/// The owner's event loop, as a CSerialLoopLine sees it.
class LineEventLoop {
 public:
  /// Starts watching @p handle (a SerialEvent::NativeHandle()): whenever it is
  /// signalled, call line.Service() on the loop's thread. Returns 0, or the
  /// OS error that keeps the loop from watching it, as LastOsError reports
  /// them (DescribeOsError words it).
  virtual int WatchLine(intptr_t handle, CSerialLoopLine& line) = 0;
  /// Stops watching @p handle; called before the handle is closed, possibly
  /// from inside Service().
  virtual void UnwatchLine(intptr_t handle) = 0;

 protected:
  ~LineEventLoop() = default;
};

/// The controller's ISerialLine on a real port, serviced by the owner's event
/// loop. Open opens the port, starts an overlapped event wait and asks the
/// loop to watch the wait's handle; Close asks it to stop, then closes. When
/// the loop finds the handle signalled it calls Service(), which completes the
/// wait, clears the line errors, starts the next wait and returns what the
/// watcher thread of CSerialWnd would have posted as wParam:
/// (line error flags & 0xFFFF) << 16 | (event type & 0xFFFF), 0 when there is
/// nothing to report. The owner hands the low half to the controller. The
/// target, message and lParam given to Open are not used: nothing is posted.
///
/// When the line is gone (hang-up, adapter unplugged) the next wait cannot be
/// started; the line then stops the loop's watch itself, so the loop never
/// spins on a dead line, and Service() adds kEventLineLost to what it returns
/// (reads and writes fail, Close still works).
///
/// Everything, Service() included, runs on the owner's thread.
class CSerialLoopLine : public CSerialPort, public ISerialLine {
 public:
  /// @p loop may be set later with SetEventLoop, but before Open.
  explicit CSerialLoopLine(LineEventLoop* loop = nullptr) : m_loop(loop) {}
  ~CSerialLoopLine() override;

  void SetEventLoop(LineEventLoop* loop) { m_loop = loop; }

  using CSerialPort::Open;
  using CSerialPort::Write;
  /// CSerialPort::Open, then the first event wait and the loop's watch; when
  /// the loop cannot watch, the port is closed again and Open fails with the
  /// loop's OS error. kErrorInvalidParameter (nothing opened) when no event
  /// loop is set.
  int32_t Open(const char* portName, ComNotifyTarget* target, uint32_t message, intptr_t lParam,
               uint32_t rxQueue, uint32_t txQueue) override;
  /// Ends the loop's watch, then closes the port; 0 on a closed port.
  int32_t Close() override;
  int32_t SetLineFormat(uint32_t baudRate, uint8_t dataBits, uint8_t parity,
                        uint8_t stopBits) override {
    return CSerialPort::SetLineFormat(baudRate, dataBits, parity, stopBits);
  }
  int32_t SetFlowControl(FlowControl mode) override { return CSerialPort::SetFlowControl(mode); }
  int32_t SetReadMode(ReadMode mode) override { return CSerialPort::SetReadMode(mode); }
  int32_t Write(const void* data, uint32_t length, uint32_t* count, SerialOverlapped* overlapped,
                uint32_t timeoutMs) override {
    return CSerialPort::Write(data, length, count, overlapped, timeoutMs);
  }
  int32_t Read(void* buffer, uint32_t length, uint32_t* count, SerialOverlapped* overlapped,
               uint32_t timeoutMs) override {
    return CSerialPort::Read(buffer, length, count, overlapped, timeoutMs);
  }

  /// Completes a signalled event wait and starts the next; see the class.
  uint32_t Service();
  /// True while the loop watches this line.
  bool Watched() const { return m_watched != kNoHandle; }

 private:
  static constexpr intptr_t kNoHandle = -1;
  void EndWatch();

  LineEventLoop* m_loop;
  SerialEvent* m_waitEvent = nullptr;
  SerialOverlapped* m_waitRecord = nullptr;
  intptr_t m_watched = kNoHandle;
};

}  // namespace vexel

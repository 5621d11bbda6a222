// The serial line with a watcher thread that reports line events to an
// owner as queued messages, and its variant that serves as the controller's
// ISerialLine.
#pragma once

#include <cstdint>
#include <thread>

#include "serial/serial_line.h"
#include "serial/serial_port.h"

namespace vexel {

/// The message id posted when Open is given message id 0: registered once,
/// during static initialisation, under "CSerialWnd_DefaultComMsg". Code that
/// runs during static initialisation itself should call
/// RegisterComMessage("CSerialWnd_DefaultComMsg"), which gives the same id.
extern const uint32_t DefaultComMessage;

/// The process-wide registry of message ids: the same id for the same name,
/// from 0xC000 up like the platform's registered window messages; 0 for an
/// empty name or when the range is used up. Thread-safe. On Windows it is
/// RegisterWindowMessageA, which compares names without regard to case; a
/// window is then reached through HwndNotifyTarget (serial/window_target.h).
uint32_t RegisterComMessage(const char* name);

/// A CSerialPort that, while open, runs a watcher thread. The watcher waits
/// for line events and, for each completed wait whose event type is not 0,
/// posts one message to the target:
///  - message: the id given to Open, or DefaultComMessage for 0;
///  - wParam: (line error flags & 0xFFFF) << 16 | (event type & 0xFFFF), the
///    error flags being the kLineError bits cleared after the wait (0 on lines
///    without error counters, such as pseudo-terminals);
///  - lParam: the value given to Open.
/// One message stands for one arrival however many bytes came, so the owner
/// reads all that is available when it handles one. The watcher never reads
/// or writes data. When the line is gone (hang-up, adapter unplugged) the
/// watcher posts one last message with event type kEventLineLost and ends
/// (the owner's reads and writes then fail, and Close still works).
///
/// While the watcher runs, the owner must not call WaitForEvent or
/// TakeEventType. Close stops and joins the watcher before it closes the line,
/// and may be called from the owner's message handler.
class CSerialWnd : public CSerialPort {
 public:
  CSerialWnd() = default;
  ~CSerialWnd() override;

  using CSerialPort::Open;
  /// Stops and joins the watcher, then closes the port; 0 on a closed port.
  int32_t Close() override;
  /// Opens the port as CSerialPort::Open does and starts the watcher. On an
  /// open object: kErrorAlreadyInitialized, and the running watcher keeps its
  /// target. A null @p target: the watcher runs and posts nothing.
  virtual int32_t Open(const char* portName, ComNotifyTarget* target, uint32_t message,
                       intptr_t lParam, uint32_t rxQueue, uint32_t txQueue);

 protected:
  /// The watcher thread's loop; returns the thread's exit code.
  virtual uint32_t WatchLoop();
  static uint32_t WatcherEntry(CSerialWnd* self);
  bool HasWatcher() const { return m_hThread.joinable(); }

 private:
  int32_t CreateEvents();
  int32_t StartWatcher();
  void ReleaseWatcher();

  std::thread m_hThread;
  SerialEvent* m_hStopEvent = nullptr;
  SerialEvent* m_hWaitEvent = nullptr;
  ComNotifyTarget* m_hNotifyWnd = nullptr;
  uint32_t m_notifyMessage = 0;
  intptr_t m_notifyLParam = 0;
};

/// The CSerialWnd whose Open takes the window object; here the notification
/// target stands for both the window and its handle. It is the ISerialLine the
/// programming controller drives.
class CSerialCWnd : public CSerialWnd, public ISerialLine {
 public:
  CSerialCWnd() = default;
  ~CSerialCWnd() override;

  using CSerialWnd::Open;
  using CSerialWnd::Write;
  /// CSerialWnd::Open with @p window as the target (null: none).
  int32_t Open(const char* portName, ComNotifyTarget* window, uint32_t message, intptr_t lParam,
               uint32_t rxQueue, uint32_t txQueue) override {
    return CSerialWnd::Open(portName, window, message, lParam, rxQueue, txQueue);
  }
  int32_t Close() override { return CSerialWnd::Close(); }
  int32_t SetLineFormat(uint32_t baudRate, uint8_t dataBits, uint8_t parity,
                        uint8_t stopBits) override {
    return CSerialWnd::SetLineFormat(baudRate, dataBits, parity, stopBits);
  }
  int32_t SetFlowControl(FlowControl mode) override { return CSerialWnd::SetFlowControl(mode); }
  int32_t SetReadMode(ReadMode mode) override { return CSerialWnd::SetReadMode(mode); }
  int32_t Write(const void* data, uint32_t length, uint32_t* count, SerialOverlapped* overlapped,
                uint32_t timeoutMs) override {
    return CSerialWnd::Write(data, length, count, overlapped, timeoutMs);
  }
  int32_t Read(void* buffer, uint32_t length, uint32_t* count, SerialOverlapped* overlapped,
               uint32_t timeoutMs) override {
    return CSerialWnd::Read(buffer, length, count, overlapped, timeoutMs);
  }
};

}  // namespace vexel

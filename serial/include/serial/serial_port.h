// The serial line object: open a port by name, set its line format, flow
// control, read behaviour and event mask, wait for line events, read and
// write bytes, synchronously with a time-out or asynchronously with a
// caller's completion record.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "serial/serial_event.h"
#include "serial/serial_types.h"

namespace vexel {

namespace comm {
struct PortHandle;
struct DeviceSettings;
}  // namespace comm

/// Event type value that means "no completed event wait to take".
constexpr uint32_t kNoEventType = 0xFFFFFFFFu;

/// One serial line, opened exclusively by name.
///
/// Every operation but the getters and TakeEventType returns a result code
/// (see "Return codes and error handling" in serial_types.h) and keeps it in
/// m_lastError; every operation but Write (text) and TakeEventType clears
/// m_lastError first. All but Open, Close and TakeEventType need an open port
/// and return kErrorInvalidHandle (getters: their failure value) when closed.
/// The object keeps no copy of the line settings: each setter reads the
/// device, changes its own fields and writes them back; each getter reads the
/// device afresh.
///
/// One owner thread calls the operations. A watcher thread (CSerialWnd) may at
/// the same time wait for events with its own record, take the event type and
/// clear the line errors. The synchronous forms share one internal event, so
/// at most one of them runs at a time.
///
/// On Linux the port is a tty: exclusive means TIOCEXCL plus
/// flock(LOCK_EX|LOCK_NB), so a second open by another object or process
/// fails with kErrorAccessDenied even as root, and leaves the holder's
/// TIOCEXCL in place. The bytes stay raw while the port is open; Close gives
/// the tty back the settings Open found (it may be someone's terminal). The queue
/// sizes of Open are accepted but the kernel's buffers are fixed. kEventRxFlag is
/// never reported (a tty cannot be looked into without consuming it). kEventError,
/// kEventBreak and the kLineError flags come from the driver's error counters
/// (TIOCGICOUNT: 8250 UARTs, FTDI, CDC-ACM); lines without counters, such as
/// pseudo-terminals and some adapters, report none.
///
/// On Windows "COMn" opens \\.\COMn and the result codes are GetLastError's.
/// An event wait that completes with no event only makes the port look at its
/// input queue: bytes waiting give kEventRxChar (some drivers, and Wine on a
/// pseudo-terminal, end waits empty). A line that is gone (a pulled adapter,
/// a hung-up pseudo-terminal) makes every later event wait fail, so a watcher
/// ends instead of spinning.
class CSerialPort {
 public:
  CSerialPort() = default;
  virtual ~CSerialPort();
  CSerialPort(const CSerialPort&) = delete;
  CSerialPort& operator=(const CSerialPort&) = delete;

  /// Opens @p portName (see ResolvePortName) for reading and writing,
  /// exclusively, then applies the defaults in this order: event mask 0x00C1,
  /// 9600 baud 8N1, non-blocking reads, no flow control. Returns
  /// kErrorAlreadyInitialized on an open port, leaving it untouched. When only
  /// the last default fails, its code is returned and the port stays open.
  virtual int32_t Open(const char* portName, uint32_t rxQueue, uint32_t txQueue);
  /// Closes the port; 0, also on a closed port. An operation still pending on
  /// a caller's record completes as cancelled (kErrorOperationAborted) and its
  /// event is signalled, so nobody waits for it in vain.
  virtual int32_t Close();
  /// Sets baud rate, data bits, parity (kParityNone..kParitySpace) and stop bits
  /// (kOneStopBit, kTwoStopBits); the line refuses what it cannot do.
  virtual int32_t SetLineFormat(uint32_t baudRate, uint8_t dataBits, uint8_t parity,
                                uint8_t stopBits);
  /// Sets the event character; with @p addToMask also adds kEventRxFlag to the
  /// event mask.
  virtual int32_t SetEventCharacter(uint8_t character, bool addToMask);
  /// Sets the event mask; a pending event wait then completes with type 0.
  virtual int32_t SetEventMask(uint32_t mask);
  /// Waits for a line event in the mask. With @p overlapped the call returns
  /// 0 at once while the wait is pending and the record's event is signalled
  /// when it completes; without, it waits up to @p timeoutMs (kErrorTimeout).
  /// The event type is then fetched with TakeEventType.
  virtual int32_t WaitForEvent(SerialOverlapped* overlapped, uint32_t timeoutMs);
  /// FlowNone, FlowHardware or FlowXonXoff; kErrorInvalidArg for other modes.
  virtual int32_t SetFlowControl(FlowControl mode);
  /// ReadNonBlocking: a read returns at once with what has arrived, possibly
  /// nothing. ReadBlocking: a read completes when all its bytes have arrived.
  virtual int32_t SetReadMode(ReadMode mode);

  /// @name Getters: the value read from the device, or -1 (0 for the event
  /// mask and character) with the code in m_lastError.
  /// @{
  virtual int32_t GetBaudRate();
  virtual int32_t GetDataBits();
  /// The parity code, kParityNone whenever parity checking is off.
  virtual int32_t GetParity();
  virtual int32_t GetStopBits();
  virtual int32_t GetFlowControl();
  virtual uint32_t GetEventMask();
  virtual uint8_t GetEventCharacter();
  /// @}

  /// Writes the bytes of @p text before its terminating zero.
  virtual int32_t Write(const char* text, uint32_t* count, SerialOverlapped* overlapped,
                        uint32_t timeoutMs);
  /// Writes @p length bytes. The count (when given) is set to 0 first, then
  /// to the bytes written. With @p overlapped a pending write returns 0 with
  /// a count of 0, and the caller collects it with GetOverlappedResult.
  /// Without, the call waits up to @p timeoutMs; on kErrorTimeout the write is
  /// cancelled and nothing more is written to the count.
  virtual int32_t Write(const void* data, uint32_t length, uint32_t* count,
                        SerialOverlapped* overlapped, uint32_t timeoutMs);
  /// Reads up to @p length bytes, as Write. A synchronous read that times out
  /// returns kErrorTimeout with a count of 0 and writes nothing more to the
  /// buffer. On Linux it has written nothing at all: the bytes that did arrive
  /// stay queued for the next read.
  virtual int32_t Read(void* buffer, uint32_t length, uint32_t* count, SerialOverlapped* overlapped,
                       uint32_t timeoutMs);

  /// The event type of the latest completed event wait, leaving kNoEventType
  /// behind (so a second call returns kNoEventType).
  uint32_t TakeEventType();

  /// Collects a read or write that was pending on @p overlapped: 0 with the
  /// count set once it has completed, kErrorIoIncomplete while it has not
  /// (unless @p wait), or its failure code. On Linux the bytes move here,
  /// on the caller's thread, when the record's event says the line is ready.
  int32_t GetOverlappedResult(SerialOverlapped& overlapped, uint32_t* count, bool wait);

  bool IsOpen() const { return m_hPort != nullptr; }
  /// The result code of the latest operation of either thread.
  int32_t LastError() const { return m_lastError.load(); }
  /// The OS error of the latest failed platform call (errno on Linux, the
  /// GetLastError code on Windows; DescribeOsError words it). Neither Close
  /// nor later successes clear it, so a front end can explain a failed Open
  /// after the port was closed again.
  int LastOsError() const { return m_lastOsError.load(); }

 protected:
  /// Stores @p code as the last error and returns it.
  int32_t Store(int32_t code);
  /// Stores the code of a failed platform call, with its OS error.
  int32_t StorePlatformFailure(int32_t code);
  /// The line's kLineError flags since the last call, cleared; 0 when the
  /// driver keeps no counters. The port must be open.
  uint32_t ClearLineErrors();

  std::atomic<int32_t> m_lastError{0};
  comm::PortHandle* m_hPort = nullptr;
  std::atomic<uint32_t> m_eventType{kNoEventType};
  SerialEvent* m_hIoEvent = nullptr;
  std::atomic<int> m_lastOsError{0};

 private:
  /// Clears the last error; kErrorInvalidHandle (stored) on a closed port.
  int32_t Begin();
  bool ReadSettings(comm::DeviceSettings& settings);
  void ApplyDefaults();
  int32_t CompleteSync(SerialOverlapped& record, uint32_t* count, uint32_t timeoutMs);
  /// The common frame of Read and Write; @p start begins the transfer on the
  /// record it is given and reports the count done at once.
  template <typename Start>
  int32_t Transfer(uint32_t* count, SerialOverlapped* overlapped, uint32_t timeoutMs, Start start);
  int32_t FinishIo(int32_t started, SerialOverlapped* overlapped, SerialOverlapped& local,
                   uint32_t* count, uint32_t timeoutMs);
};

/// Text for a result code: the platform's text for the codes mapped from OS
/// errors, a short English text for the class's own codes.
std::string DescribeResult(int32_t code);

/// The platform's text for an OS error as LastOsError reports it.
std::string DescribeOsError(int osError);

}  // namespace vexel

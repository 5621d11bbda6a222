// The communications calls on Windows: the Win32 calls themselves on a handle
// opened for overlapped I/O. Each completion record keeps its OVERLAPPED in
// the record's own storage, so it lives exactly as long as the record, and a
// record that goes away while its operation is pending cancels the operation
// and waits for the platform to let go of it.
//
// Two driver behaviours are smoothed here. An event wait may end with no
// event (Windows does so when the mask changes, some USB drivers and Wine on
// a pseudo-terminal do so spuriously), and bytes that arrive while no wait is
// armed may raise no event at all: so every wait, once armed, looks at the
// input queue and completes at once when bytes are already waiting. A wait
// that fails, or a read, write or queue call that fails, means the line is
// gone (a Close's cancellations aside): every later event wait fails with
// that code, so a watcher reports the loss and ends instead of spinning.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <vector>

#include "comm_api.h"
#include "comm_calls_win32.h"
#include "record_access.h"
#include "winsupport/unique_handle.h"
#include "winsupport/utf16.h"

namespace vexel::comm {

// The serial types name the platform's values on their own; they must be its values.
static_assert(kParityNone == NOPARITY && kParityOdd == ODDPARITY && kParityEven == EVENPARITY &&
              kParityMark == MARKPARITY && kParitySpace == SPACEPARITY);
static_assert(kOneStopBit == ONESTOPBIT && kOne5StopBits == ONE5STOPBITS &&
              kTwoStopBits == TWOSTOPBITS);
static_assert(kEventRxChar == EV_RXCHAR && kEventRxFlag == EV_RXFLAG && kEventBreak == EV_BREAK &&
              kEventError == EV_ERR);
static_assert(kLineErrorRxOver == CE_RXOVER && kLineErrorOverrun == CE_OVERRUN &&
              kLineErrorRxParity == CE_RXPARITY && kLineErrorFrame == CE_FRAME &&
              kLineErrorBreak == CE_BREAK);
static_assert(kDtrControlDisable == DTR_CONTROL_DISABLE &&
              kDtrControlEnable == DTR_CONTROL_ENABLE &&
              kDtrControlHandshake == DTR_CONTROL_HANDSHAKE);
static_assert(kRtsControlDisable == RTS_CONTROL_DISABLE &&
              kRtsControlEnable == RTS_CONTROL_ENABLE &&
              kRtsControlHandshake == RTS_CONTROL_HANDSHAKE &&
              kRtsControlToggle == RTS_CONTROL_TOGGLE);

struct PortHandle {
  UniqueHandle file;
  std::atomic<uint32_t> eventMask{0};    // as last set; an empty wait looks at the queue for it
  std::atomic<bool> readsAtOnce{false};  // ReadNonBlocking: a read asks the queue first
  std::atomic<uint32_t> heldErrors{
      0};                          // kLineError flags a queue check cleared, kept for ClearErrors
  std::atomic<DWORD> lostCode{0};  // the line is gone: later event waits fail with it
  std::atomic<SerialOverlapped*> pendingWait{nullptr};  // one event wait at a time
  std::mutex lock;
  std::vector<SerialOverlapped*> pending;  // every record the platform may still write to
};

namespace {

enum IoKind : uint32_t { kNone = 0, kWait = 1, kRead = 2, kWrite = 3 };

struct RecordState {
  OVERLAPPED ov;
  PortHandle* port;  // the line while the platform may write to the record
  uint32_t kind;
  DWORD events;  // WaitCommEvent writes the event mask here
  std::atomic<uint32_t>* eventType;
};
static_assert(RecordAccess::Fits<RecordState>(), "an OVERLAPPED and its bookkeeping must fit");

RecordState& StateOf(SerialOverlapped& record) { return RecordAccess::As<RecordState>(record); }

int32_t Fail(DWORD error) { return RecordOsError(static_cast<int>(error)); }
int32_t FailLast() { return Fail(::GetLastError()); }

void Track(PortHandle* port, SerialOverlapped& record, uint32_t kind) {
  RecordState& st = StateOf(record);
  st.port = port;
  st.kind = kind;
  std::lock_guard<std::mutex> guard(port->lock);
  port->pending.push_back(&record);
}

void Untrack(PortHandle* port, SerialOverlapped& record) {
  RecordState& st = StateOf(record);
  st.port = nullptr;
  st.kind = kNone;
  SerialOverlapped* expected = &record;
  port->pendingWait.compare_exchange_strong(expected, nullptr);
  std::lock_guard<std::mutex> guard(port->lock);
  auto& list = port->pending;
  list.erase(std::remove(list.begin(), list.end(), &record), list.end());
}

// Cancels whatever the platform still does on @p record and waits until it is
// done with the record, its buffer and its event mask; returns how the
// operation ended (0, ERROR_OPERATION_ABORTED for the cancel, or its
// failure). Setting the mask again ends a pending event wait on drivers (and
// Wine) that ignore the cancel.
DWORD Settle(PortHandle* port, SerialOverlapped& record) {
  RecordState& st = StateOf(record);
  if (st.port == nullptr) return 0;
  ::CancelIoEx(port->file.get(), &st.ov);
  if (st.kind == kWait && !HasOverlappedIoCompleted(&st.ov))
    ::SetCommMask(port->file.get(), port->eventMask);
  DWORD moved = 0;
  const DWORD error = Calls().getOverlappedResult(port->file.get(), &st.ov, &moved, TRUE)
                          ? 0
                          : ::GetLastError();
  Untrack(port, record);
  return error;
}

// Windows clears the record's event when an operation starts; Wine does not
// always for an event wait, and a watcher would then wake for a wait that has
// not ended. Clearing it here gives both the same start.
void Prepare(RecordState& st, const SerialOverlapped& record) {
  std::memset(&st.ov, 0, sizeof st.ov);
  st.ov.hEvent = reinterpret_cast<HANDLE>(record.hEvent->NativeHandle());
  ::ResetEvent(st.ov.hEvent);
}

// ClearCommError: the bytes waiting, keeping the cleared kLineError flags for
// ClearErrors. A failure here means the line is gone.
bool QueueState(PortHandle* port, DWORD& queued, DWORD& errors) {
  COMSTAT stat{};
  errors = 0;
  if (!Calls().clearCommError(port->file.get(), &errors, &stat)) return false;
  port->heldErrors |= errors;
  queued = stat.cbInQue;
  return true;
}

// The line is gone, for the first reason seen. A pending event wait is ended
// (a new mask does that, from any thread) so that its owner hears of it now
// rather than when the next event, which may never come, ends the wait.
void MarkLost(PortHandle* port, DWORD error) {
  DWORD none = 0;
  if (!port->lostCode.compare_exchange_strong(none, error)) return;
  if (port->pendingWait != nullptr) ::SetCommMask(port->file.get(), port->eventMask);
}

// The line is gone with @p error, which is also the failing call's result.
int32_t FailLost(PortHandle* port, DWORD error) {
  MarkLost(port, error);
  return Fail(error);
}

// Ends a pending event wait early; a failure its end reports, other than the
// cancel, is a line that is gone.
DWORD EndWait(PortHandle* port, SerialOverlapped& record) {
  const DWORD error = Settle(port, record);
  if (error != 0 && error != ERROR_OPERATION_ABORTED) MarkLost(port, error);
  return error;
}

// A read or write failed with @p error. Cancellation (ERROR_OPERATION_ABORTED)
// is what a Close or a timed-out call does, and also how some drivers end
// operations on a device that was pulled: the queue, which cannot be read on
// such a device, tells the two apart. Any other failure is a line that is gone.
int32_t TransferFailed(PortHandle* port, DWORD error) {
  if (error == ERROR_OPERATION_ABORTED) {
    DWORD queued = 0;
    DWORD errors = 0;
    if (QueueState(port, queued, errors)) return Fail(error);
    error = ::GetLastError();
  }
  return FailLost(port, error);
}

// The events the queue stands for; false (the line is gone) when it cannot
// be read.
bool EventsOfQueue(PortHandle* port, uint32_t& occurred) {
  DWORD queued = 0;
  DWORD errors = 0;
  occurred = 0;
  if (!QueueState(port, queued, errors)) {
    MarkLost(port, ::GetLastError());
    return false;
  }
  if (queued > 0) occurred |= kEventRxChar;
  constexpr uint32_t kDataErrors = kLineErrorRxOver | kLineErrorOverrun | kLineErrorRxParity |
                                   kLineErrorFrame;
  if ((errors & kDataErrors) != 0) occurred |= kEventError;
  if ((errors & kLineErrorBreak) != 0) occurred |= kEventBreak;
  occurred &= port->eventMask;
  return true;
}

// Stores the event type of a wait the platform ended with @p error (0 for
// success). ERROR_OPERATION_ABORTED is how a mask change or Wine's empty
// wait ends, and how some drivers end a wait on a device that was pulled:
// the queue, which cannot be read on such a device, tells the two apart.
// Any other failure is a line that is gone.
void FinishWait(PortHandle* port, RecordState& st, DWORD error) {
  uint32_t occurred = error == 0 ? st.events : 0;
  if (error == ERROR_OPERATION_ABORTED) {
    EventsOfQueue(port, occurred);
  } else if (error != 0) {
    MarkLost(port, error);
  }
  st.eventType->store(occurred);
}

// Runs right after a wait was armed. Bytes that came before it, even just
// before it, raise no event on drivers that keep no record of events between
// waits: when the queue holds any, the fresh wait is ended and completes at
// once with them. Looking only before arming would leave a gap in which a
// reply is never reported.
int32_t LookAtQueueOnceArmed(PortHandle* port, SerialOverlapped& record) {
  RecordState& st = StateOf(record);
  uint32_t occurred = 0;
  // MarkLost, on another thread, may have found no wait to end just before
  // this one was armed: the loss is looked at again now that it is.
  if (port->lostCode != 0 || !EventsOfQueue(port, occurred)) {
    const DWORD lost = port->lostCode;
    Settle(port, record);
    return Fail(lost);
  }
  if (occurred == 0) return kErrorIoPending;
  // A wait that completed meanwhile adds its own events, or its failure.
  const DWORD error = EndWait(port, record);
  if (error != 0 && error != ERROR_OPERATION_ABORTED) return Fail(error);
  st.eventType->store(occurred | (error == 0 ? st.events & port->eventMask : 0));
  return kResultOk;
}

// Collects the outcome of the completed operation on @p record.
int32_t Collect(PortHandle* port, SerialOverlapped& record, uint32_t* count, bool wait) {
  RecordState& st = StateOf(record);
  DWORD moved = 0;
  const DWORD error = Calls().getOverlappedResult(port->file.get(), &st.ov, &moved,
                                                  wait ? TRUE : FALSE)
                          ? 0
                          : ::GetLastError();
  if (error == ERROR_IO_INCOMPLETE) return kErrorIoIncomplete;
  const uint32_t kind = st.kind;
  if (st.port != nullptr) Untrack(port, record);
  if (kind == kWait) {
    FinishWait(port, st, error);
    return error == 0 || error == ERROR_OPERATION_ABORTED ? kResultOk : Fail(error);
  }
  if (error != 0) return TransferFailed(port, error);
  *count = moved;
  return kResultOk;
}

template <typename Call>
int32_t StartTransfer(PortHandle* port, SerialOverlapped& record, uint32_t kind, uint32_t* count,
                      Call call) {
  RecordState& st = StateOf(record);
  Prepare(st, record);
  DWORD moved = 0;
  if (call(&st.ov, &moved)) {
    *count = moved;
    return kResultOk;
  }
  const DWORD error = ::GetLastError();
  if (error != ERROR_IO_PENDING) return TransferFailed(port, error);
  Track(port, record, kind);
  return kErrorIoPending;
}

void ToDcb(const DeviceSettings& s, DCB& dcb) {
  static_assert(offsetof(DCB, wReserved) == offsetof(DCB, BaudRate) + 2 * sizeof(DWORD),
                "the DCB's flag word follows BaudRate");
  dcb.BaudRate = s.BaudRate;
  std::memcpy(reinterpret_cast<char*>(&dcb) + offsetof(DCB, BaudRate) + sizeof(DWORD), &s.flags,
              sizeof s.flags);
  dcb.XonLim = s.XonLim;
  dcb.XoffLim = s.XoffLim;
  dcb.ByteSize = s.ByteSize;
  dcb.Parity = s.Parity;
  dcb.StopBits = s.StopBits;
  dcb.XonChar = static_cast<char>(s.XonChar);
  dcb.XoffChar = static_cast<char>(s.XoffChar);
  dcb.ErrorChar = static_cast<char>(s.ErrorChar);
  dcb.EofChar = static_cast<char>(s.EofChar);
  dcb.EvtChar = static_cast<char>(s.EvtChar);
}

void FromDcb(const DCB& dcb, DeviceSettings& s) {
  s.BaudRate = dcb.BaudRate;
  std::memcpy(&s.flags,
              reinterpret_cast<const char*>(&dcb) + offsetof(DCB, BaudRate) + sizeof(DWORD),
              sizeof s.flags);
  s.XonLim = dcb.XonLim;
  s.XoffLim = dcb.XoffLim;
  s.ByteSize = dcb.ByteSize;
  s.Parity = dcb.Parity;
  s.StopBits = dcb.StopBits;
  s.XonChar = static_cast<uint8_t>(dcb.XonChar);
  s.XoffChar = static_cast<uint8_t>(dcb.XoffChar);
  s.ErrorChar = static_cast<uint8_t>(dcb.ErrorChar);
  s.EofChar = static_cast<uint8_t>(dcb.EofChar);
  s.EvtChar = static_cast<uint8_t>(dcb.EvtChar);
}

bool ReadDcb(PortHandle* port, DCB& dcb) {
  std::memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  return ::GetCommState(port->file.get(), &dcb) != FALSE;
}

}  // namespace

CommCalls SystemCommCalls() {
  return {::WaitCommEvent, ::ReadFile, ::WriteFile, ::GetOverlappedResult, ::ClearCommError};
}

CommCalls& Calls() {
  static CommCalls calls = SystemCommCalls();
  return calls;
}

int32_t OpenPort(const std::string& path, PortHandle*& port) {
  port = nullptr;
  HANDLE file = ::CreateFileW(Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (file == INVALID_HANDLE_VALUE) return FailLast();
  ::PurgeComm(file, PURGE_RXCLEAR);  // input left from before is no reply to this open
  port = new PortHandle;
  port->file.reset(file);
  return kResultOk;
}

void ClosePort(PortHandle* port) {
  std::vector<SerialOverlapped*> left;
  {
    std::lock_guard<std::mutex> guard(port->lock);
    left = port->pending;
  }
  for (SerialOverlapped* record : left) Settle(port, *record);
  delete port;  // closes the line
}

int32_t SetupQueues(PortHandle* port, uint32_t rxQueue, uint32_t txQueue) {
  return ::SetupComm(port->file.get(), rxQueue, txQueue) ? kResultOk : FailLast();
}

int32_t GetState(PortHandle* port, DeviceSettings& settings) {
  DCB dcb;
  if (!ReadDcb(port, dcb)) return FailLast();
  FromDcb(dcb, settings);
  return kResultOk;
}

// Read first so that the fields DeviceSettings does not carry stay as they
// are. Every record written carries the sound fields, so the first setter Open
// runs replaces whatever another program left in them (equal XON and XOFF
// characters would make this very call fail).
int32_t SetState(PortHandle* port, const DeviceSettings& settings) {
  DCB dcb;
  if (!ReadDcb(port, dcb)) return FailLast();
  DeviceSettings sound = settings;
  ApplySoundFields(sound);
  ToDcb(sound, dcb);
  return ::SetCommState(port->file.get(), &dcb) ? kResultOk : FailLast();
}

int32_t GetMask(PortHandle* port, uint32_t& mask) {
  DWORD value = 0;
  if (!::GetCommMask(port->file.get(), &value)) return FailLast();
  mask = value;
  return kResultOk;
}

int32_t SetMask(PortHandle* port, uint32_t mask) {
  if (!::SetCommMask(port->file.get(), mask)) return FailLast();
  port->eventMask = mask;
  return kResultOk;
}

int32_t GetTimeouts(PortHandle* port, CommTimeouts& timeouts) {
  COMMTIMEOUTS t{};
  if (!::GetCommTimeouts(port->file.get(), &t)) return FailLast();
  timeouts = {t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant,
              t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant};
  return kResultOk;
}

int32_t SetTimeouts(PortHandle* port, const CommTimeouts& timeouts) {
  COMMTIMEOUTS t{timeouts.ReadIntervalTimeout, timeouts.ReadTotalTimeoutMultiplier,
                 timeouts.ReadTotalTimeoutConstant, timeouts.WriteTotalTimeoutMultiplier,
                 timeouts.WriteTotalTimeoutConstant};
  if (!::SetCommTimeouts(port->file.get(), &t)) return FailLast();
  port->readsAtOnce = ReadsReturnAtOnce(timeouts);
  return kResultOk;
}

int32_t StartWait(PortHandle* port, std::atomic<uint32_t>* eventType, SerialOverlapped& record) {
  RecordState& st = StateOf(record);
  if (port->pendingWait == &record) {
    if (!HasOverlappedIoCompleted(&st.ov)) {
      // Still waiting: keep it, unless its event is signalled all the same.
      // Wine does that to a wait started right after one that completed at
      // once, and such a wait never ends: a watcher would spin on it and
      // miss every arrival. It is ended and a new one started.
      if (::WaitForSingleObject(st.ov.hEvent, 0) != WAIT_OBJECT_0) return kErrorIoPending;
      EndWait(port, record);
    } else {
      uint32_t none = 0;
      Collect(port, record, &none, false);  // the earlier wait ended; this starts a new one
    }
  }
  if (port->pendingWait != nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (const DWORD lost = port->lostCode) return Fail(lost);
  Settle(port, record);
  Prepare(st, record);
  st.events = 0;
  st.eventType = eventType;
  if (Calls().waitCommEvent(port->file.get(), &st.events, &st.ov)) {
    FinishWait(port, st, 0);
    return kResultOk;
  }
  const DWORD error = ::GetLastError();
  if (error != ERROR_IO_PENDING) return FailLost(port, error);
  Track(port, record, kWait);
  port->pendingWait = &record;
  return LookAtQueueOnceArmed(port, record);
}

// Under ReadNonBlocking the queue is asked first: Windows returns such a read
// at once, but Wine leaves it pending on an empty queue, and asking first
// gives both the same answer.
int32_t StartRead(PortHandle* port, void* buffer, uint32_t length, uint32_t* count,
                  SerialOverlapped& record) {
  Settle(port, record);
  if (length == 0) return kResultOk;
  if (port->readsAtOnce) {
    DWORD queued = 0;
    DWORD errors = 0;
    if (!QueueState(port, queued, errors)) return FailLost(port, ::GetLastError());
    if (queued == 0) return kResultOk;
    length = std::min<uint32_t>(length, queued);
  }
  return StartTransfer(port, record, kRead, count, [&](OVERLAPPED* ov, DWORD* moved) {
    return Calls().readFile(port->file.get(), buffer, length, moved, ov);
  });
}

int32_t StartWrite(PortHandle* port, const void* data, uint32_t length, uint32_t* count,
                   SerialOverlapped& record) {
  Settle(port, record);
  if (length == 0) return kResultOk;
  return StartTransfer(port, record, kWrite, count, [&](OVERLAPPED* ov, DWORD* moved) {
    return Calls().writeFile(port->file.get(), data, length, moved, ov);
  });
}

int32_t WaitIo(PortHandle* /*port*/, SerialOverlapped& record, uint32_t timeoutMs) {
  switch (::WaitForSingleObject(StateOf(record).ov.hEvent, timeoutMs)) {
    case WAIT_OBJECT_0: return kResultOk;
    case WAIT_TIMEOUT: return kErrorTimeout;
    default: return FailLast();
  }
}

int32_t GetResult(PortHandle* port, SerialOverlapped& record, uint32_t* count, bool wait) {
  RecordState& st = StateOf(record);
  if (st.port != nullptr && st.port != port) return Fail(ERROR_INVALID_HANDLE);
  return Collect(port, record, count, wait);
}

void CancelIo(PortHandle* port, SerialOverlapped& record) {
  if (StateOf(record).port == port) Settle(port, record);
}

// Wine can signal a wait's event and leave the wait pending for good; the
// owner, woken by the event, would find nothing to take and never arm again.
// Such a wait is ended and taken for what its end reports, so the owner arms
// the next one.
void CollectEventWait(PortHandle* port) {
  SerialOverlapped* record = port->pendingWait;
  if (record == nullptr) return;
  RecordState& st = StateOf(*record);
  if (!HasOverlappedIoCompleted(&st.ov)) {
    if (::WaitForSingleObject(st.ov.hEvent, 0) != WAIT_OBJECT_0) return;
    FinishWait(port, st, Settle(port, *record));
    return;
  }
  uint32_t none = 0;
  Collect(port, *record, &none, false);
}

int32_t ClearErrors(PortHandle* port, uint32_t& errors) {
  DWORD fresh = 0;
  if (!Calls().clearCommError(port->file.get(), &fresh, nullptr))
    return FailLost(port, ::GetLastError());
  errors = fresh | port->heldErrors.exchange(0);
  return kResultOk;
}

}  // namespace vexel::comm

namespace vexel {

SerialOverlapped::SerialOverlapped() { comm::RecordAccess::Construct<comm::RecordState>(*this); }

SerialOverlapped::~SerialOverlapped() {
  comm::RecordState& st = comm::StateOf(*this);
  if (st.port != nullptr) comm::CancelIo(st.port, *this);
}

}  // namespace vexel

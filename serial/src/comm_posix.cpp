// The communications calls on Linux: a tty opened non-blocking and
// exclusively, termios for the device settings, epoll edges for event waits
// and pending reads and writes, TIOCGICOUNT for line errors. The tty may be
// a terminal someone uses, so its settings as found are put back on close.
//
// Termios holds no event mask, event character, DTR/DSR handshaking or read
// time-outs; the handle keeps those, as a driver keeps its own state. A
// pending operation does its I/O on the thread that waits for it (WaitIo,
// GetResult), so once a cancelled one is off the record nothing more touches
// the caller's buffer or count.
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <vector>

#include "comm_api.h"
#include "event_access_posix.h"
#include "io_status_posix.h"
#include "termios_mapping_posix.h"
#include "tty_calls_posix.h"

namespace vexel::comm {

namespace {
// What a read that returns at once asks the tty for: more than the n_tty
// input buffer (4095 bytes) ever holds.
constexpr uint32_t kReadAhead = 4096;

int SystemIoctl(int fd, unsigned long request, void* argument) {
  return ::ioctl(fd, request, argument);
}
}  // namespace

struct PortHandle {
  int fd = -1;
  uint64_t serial = 0;    // unique per open line, for the events' registrations
  termios found{};        // the tty's settings at open, restored on close
  DeviceSettings shadow;  // the fields termios cannot hold
  CommTimeouts timeouts;
  bool haveCounters = false;  // the driver keeps line error counters
  // Bytes read from the tty ahead of the reads that asked for them, unread in
  // [aheadBegin, aheadEnd): a read that returns at once takes all that is
  // queued in one system call, and a blocking read gathers here what has
  // come until all it wants has; the next reads are served from here first.
  // It grows only for a blocking read longer than the tty's own buffer.
  // Owner thread only.
  std::vector<char> ahead = std::vector<char>(kReadAhead);
  uint32_t aheadBegin = 0;
  uint32_t aheadEnd = 0;
  std::atomic<bool> hungUp{false};
  int serialFlags = 0;           // the driver's serial flags at open
  bool lowLatencyAsked = false;  // Open set ASYNC_LOW_LATENCY; Close gives the flag back

  // Shared with a watcher thread.
  std::mutex lock;
  uint32_t eventMask = 0;
  serial_icounter_struct counted{};         // counters at the last ClearErrors
  SerialOverlapped* pendingWait = nullptr;  // one event wait at a time
  std::vector<SerialOverlapped*> pending;   // every record with an operation pending
};

namespace {

enum IoKind : uint32_t { kNone = 0, kWait = 1, kRead = 2, kWrite = 3 };

std::atomic<uint64_t> g_nextSerial{1};

int32_t Fail(int osError) { return RecordOsError(osError); }

// What a tty answers once its device is gone without a hang-up having been
// seen yet: an unplugged adapter's driver fails requests with ENODEV, a tty
// being torn down reads and writes with EIO.
bool IsLineGone(int osError) { return osError == EIO || osError == ENODEV || osError == ENXIO; }

// Marks the line gone and completes a pending event wait, so that its owner
// learns of the loss now (its next wait fails) rather than waiting for an
// edge that will never come.
void MarkLost(PortHandle* port) {
  port->hungUp = true;
  std::lock_guard<std::mutex> guard(port->lock);
  if (port->pendingWait != nullptr) port->pendingWait->hEvent->Set();
}

int32_t FailLine(PortHandle* port, int osError) {
  if (IsLineGone(osError)) MarkLost(port);
  return Fail(osError);
}

bool Retry(ssize_t n) { return n < 0 && errno == EINTR; }

// For the holder of the lock only: drops TIOCEXCL too, since on a
// pseudo-terminal the tty outlives our descriptor.
void ReleaseLine(int fd) {
  ::ioctl(fd, TIOCNXCL);
  ::close(fd);
}

// The lock decides who holds the line; the holder then sets TIOCEXCL to keep
// out programs that do not lock. Root gets past another holder's TIOCEXCL
// and is stopped by the lock: that failure closes only its own descriptor,
// since the flag belongs to the tty they share.
int32_t TakeExclusive(int fd) {
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::ioctl(fd, TIOCEXCL) == 0) return kResultOk;
  const int32_t result = Fail(errno);
  ::close(fd);
  return result;
}

int32_t ApplyModemLines(int fd, const ModemLines& lines) {
  // Pseudo-terminals and some adapters have no modem lines; that is no failure.
  auto apply = [fd](unsigned long request, int bits) {
    if (bits == 0 || ::ioctl(fd, request, &bits) == 0) return kResultOk;
    return errno == ENOTTY || errno == EINVAL ? kResultOk : Fail(errno);
  };
  int32_t result = apply(TIOCMBIS, lines.raise);
  return result != kResultOk ? result : apply(TIOCMBIC, lines.drop);
}

void Track(PortHandle* port, SerialOverlapped& record, uint32_t kind) {
  IoStatus& st = StatusOf(record);
  st.port = port;
  st.kind = kind;
  port->pending.push_back(&record);
}

// Takes @p record off the line with its outcome; the port's lock is held.
void FinishLocked(PortHandle* port, SerialOverlapped& record, int32_t result) {
  IoStatus& st = StatusOf(record);
  auto& list = port->pending;
  list.erase(std::remove(list.begin(), list.end(), &record), list.end());
  if (port->pendingWait == &record) port->pendingWait = nullptr;
  st.port = nullptr;
  st.kind = kNone;
  st.result = result;
}

int32_t Finish(PortHandle* port, SerialOverlapped& record, int32_t result) {
  std::lock_guard<std::mutex> guard(port->lock);
  FinishLocked(port, record, result);
  return result;
}

uint32_t ErrorEventsLocked(PortHandle* port) {
  serial_icounter_struct now{};
  if (!port->haveCounters || Tty().ioctl(port->fd, TIOCGICOUNT, &now) != 0) return 0;
  return EventsOfErrors(ErrorFlagsBetween(port->counted, now));
}

// Completes the pending event wait on @p record from the edges its event
// collected; the port's lock is held. A hang-up completes it with type 0 and
// makes every later wait fail, so a watcher ends instead of spinning.
void CompleteWaitLocked(PortHandle* port, SerialOverlapped& record, uint32_t seen) {
  IoStatus& st = StatusOf(record);
  uint32_t occurred = 0;
  if ((seen & (EPOLLHUP | EPOLLERR)) != 0) {
    port->hungUp = true;
  } else if ((seen & EPOLLIN) != 0) {
    occurred |= kEventRxChar;
  }
  occurred |= ErrorEventsLocked(port);
  st.eventType->store(occurred & port->eventMask);
  FinishLocked(port, record, kResultOk);
}

void HarvestLocked(PortHandle* port, SerialOverlapped& record) {
  CompleteWaitLocked(port, record, EventAccess::Consume(*record.hEvent));
}

ssize_t ReadRetrying(int fd, void* buffer, size_t length) {
  ssize_t n;
  do {
    n = Tty().read(fd, buffer, length);
  } while (Retry(n));
  return n;
}

uint32_t AheadCount(const PortHandle* port) { return port->aheadEnd - port->aheadBegin; }

// Reads up to @p most more bytes from the tty behind those read ahead.
ssize_t FillAhead(PortHandle* port, uint32_t most) {
  std::vector<char>& ahead = port->ahead;
  if (port->aheadBegin > 0) {
    std::memmove(ahead.data(), ahead.data() + port->aheadBegin, AheadCount(port));
    port->aheadEnd -= port->aheadBegin;
    port->aheadBegin = 0;
  }
  if (ahead.size() - port->aheadEnd < most) ahead.resize(port->aheadEnd + most);
  const ssize_t n = ReadRetrying(port->fd, ahead.data() + port->aheadEnd, most);
  if (n > 0) port->aheadEnd += static_cast<uint32_t>(n);
  return n;
}

// Moves up to @p length bytes read ahead into the record's buffer.
uint32_t TakeAhead(PortHandle* port, IoStatus& st, uint32_t length) {
  const uint32_t n = std::min(length, AheadCount(port));
  std::memcpy(static_cast<char*>(st.buffer) + st.done, port->ahead.data() + port->aheadBegin, n);
  st.done += n;
  port->aheadBegin += n;
  if (port->aheadBegin == port->aheadEnd) port->aheadBegin = port->aheadEnd = 0;
  return n;
}

// A read that returns at once: what was read ahead, then, when that is not
// enough, everything the tty has queued. Bytes already moved make the read a
// success even if the tty then fails; the next read meets the failure.
int32_t ReadAtOnce(PortHandle* port, IoStatus& st, uint32_t length) {
  if (TakeAhead(port, st, length) == length) return kResultOk;
  const ssize_t n = FillAhead(port, std::max(length - st.done, kReadAhead));
  if (n > 0) {
    TakeAhead(port, st, length - st.done);
    return kResultOk;
  }
  if (st.done > 0 || (n < 0 && errno == EAGAIN)) return kResultOk;
  return FailLine(port, n == 0 ? EIO : errno);  // end of file on a tty: it hung up
}

// A blocking read gathers what arrives behind the bytes read ahead and moves
// it to the caller's buffer only once all it wants has come: one that times
// out or is cancelled leaves every byte, in order, for the next read, however
// much of it the tty could not hold meanwhile. The tty is read until it has
// nothing more, so its next arrival signals the record's event again.
int32_t ProgressRead(PortHandle* port, IoStatus& st) {
  const uint32_t wanted = st.length - st.done;
  while (AheadCount(port) < wanted) {
    const ssize_t n = FillAhead(port, wanted - AheadCount(port));
    if (n > 0) continue;
    if (n < 0 && errno == EAGAIN) return kErrorIoPending;
    return FailLine(port, n == 0 ? EIO : errno);  // end of file on a tty: it hung up
  }
  TakeAhead(port, st, wanted);
  return kResultOk;
}

int32_t ProgressWrite(PortHandle* port, IoStatus& st) {
  while (st.done < st.length) {
    ssize_t n = Tty().write(port->fd, static_cast<const char*>(st.buffer) + st.done,
                            st.length - st.done);
    if (n > 0) {
      st.done += static_cast<uint32_t>(n);
    } else if (n < 0 && errno == EAGAIN) {
      return kErrorIoPending;
    } else if (!Retry(n)) {
      return FailLine(port, n == 0 ? EIO : errno);
    }
  }
  return kResultOk;
}

// Moves a pending read or write on, or completes a signalled event wait.
int32_t Progress(PortHandle* port, SerialOverlapped& record) {
  IoStatus& st = StatusOf(record);
  if (st.kind == kWait) {
    std::lock_guard<std::mutex> guard(port->lock);
    if (st.kind == kWait) HarvestLocked(port, record);
    return kResultOk;
  }
  const uint32_t seen = EventAccess::Consume(*record.hEvent);
  if ((seen & (EPOLLHUP | EPOLLERR)) != 0) port->hungUp = true;
  int32_t result = port->hungUp       ? Fail(EIO)
                   : st.kind == kRead ? ProgressRead(port, st)
                                      : ProgressWrite(port, st);
  return result == kErrorIoPending ? result : Finish(port, record, result);
}

int32_t StartTransfer(PortHandle* port, SerialOverlapped& record, uint32_t kind,
                      uint32_t epollEvents, uint32_t* count) {
  IoStatus& st = StatusOf(record);
  if (port->hungUp) return Fail(EIO);
  int err = EventAccess::Arm(*record.hEvent, port->fd, port->serial, epollEvents);
  if (err != 0) return Fail(err);
  {
    std::lock_guard<std::mutex> guard(port->lock);
    Track(port, record, kind);
  }
  int32_t result = Progress(port, record);
  if (result == kResultOk) *count = st.done;
  return result;
}

// A driver with a latency timer (FTDI) holds short replies until it runs out,
// 16 ms by default; with ASYNC_LOW_LATENCY it sends them after 1 ms. Drivers
// without the setting, and pseudo-terminals, refuse the request (ENOTTY,
// EOPNOTSUPP, EINVAL) or ignore the flag: never a reason to fail the open.
void AskLowLatency(PortHandle* port) {
  serial_struct info{};
  if (Tty().ioctl(port->fd, TIOCGSERIAL, &info) != 0) return;
  port->serialFlags = info.flags;
  if ((info.flags & ASYNC_LOW_LATENCY) != 0) return;
  info.flags |= ASYNC_LOW_LATENCY;
  port->lowLatencyAsked = Tty().ioctl(port->fd, TIOCSSERIAL, &info) == 0;
}

// Only the flag Open changed goes back; a line that is gone refuses, and
// its driver has forgotten the setting with the device anyway.
void GiveBackLatency(PortHandle* port) {
  if (!port->lowLatencyAsked) return;
  serial_struct info{};
  if (Tty().ioctl(port->fd, TIOCGSERIAL, &info) != 0) return;
  info.flags = (info.flags & ~ASYNC_LOW_LATENCY) | (port->serialFlags & ASYNC_LOW_LATENCY);
  Tty().ioctl(port->fd, TIOCSSERIAL, &info);
}

void PrepareRecord(SerialOverlapped& record, void* buffer, uint32_t length,
                   bool resetEvent = true) {
  if (resetEvent) record.hEvent->Reset();
  IoStatus& st = StatusOf(record);
  st.buffer = buffer;
  st.length = length;
  st.done = 0;
  st.result = kResultOk;
}

}  // namespace

int32_t OpenPort(const std::string& path, PortHandle*& port) {
  port = nullptr;
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Fail(errno);
  int32_t result = TakeExclusive(fd);
  if (result != kResultOk) return result;
  // Bytes left on the line from before (the last reply to a loader killed a
  // moment ago) would be taken for the answer to this open's first request.
  ::tcflush(fd, TCIFLUSH);
  termios found{};
  if (::tcgetattr(fd, &found) != 0) {
    result = Fail(errno);
    ReleaseLine(fd);
    return result;
  }
  port = new PortHandle;
  port->fd = fd;
  port->found = found;
  port->serial = g_nextSerial.fetch_add(1);
  port->shadow.flags |= (kDtrControlEnable << kDtrControlShift) |
                        (kRtsControlEnable << kRtsControlShift);
  AskLowLatency(port);
  return kResultOk;
}

// Pending operations complete as cancelled and their events are signalled,
// so that nobody waits for them in vain. The settings go back at once, not
// after the output has drained: a line held by flow control could keep
// Close waiting for ever.
void ClosePort(PortHandle* port) {
  {
    std::lock_guard<std::mutex> guard(port->lock);
    while (!port->pending.empty()) {
      SerialOverlapped& record = *port->pending.back();
      FinishLocked(port, record, kErrorOperationAborted);
      record.hEvent->Set();
    }
  }
  ::tcsetattr(port->fd, TCSANOW, &port->found);  // a hung-up line refuses; nothing to keep then
  GiveBackLatency(port);
  ReleaseLine(port->fd);
  delete port;
}

int32_t SetupQueues(PortHandle* port, uint32_t /*rxQueue*/, uint32_t /*txQueue*/) {
  termios t{};
  if (::tcgetattr(port->fd, &t) != 0) return Fail(errno);
  MakeRaw(t);
  if (::tcsetattr(port->fd, TCSANOW, &t) != 0) return Fail(errno);
  port->haveCounters = Tty().ioctl(port->fd, TIOCGICOUNT, &port->counted) == 0;
  return kResultOk;
}

int32_t GetState(PortHandle* port, DeviceSettings& settings) {
  termios t{};
  if (::tcgetattr(port->fd, &t) != 0) return Fail(errno);
  settings = port->shadow;
  FromTermios(t, settings);
  return kResultOk;
}

// The shadow keeps a request for DTR/DSR handshaking that termios cannot
// carry out, and every setter writes it back as it read it: only the call
// that changes those fields to it is told that the line does not do it.
int32_t SetState(PortHandle* port, const DeviceSettings& settings) {
  termios t{};
  if (::tcgetattr(port->fd, &t) != 0) return Fail(errno);
  const int32_t mapped = ToTermios(settings, t);
  if (mapped == kErrorInvalidParameter) return Fail(EINVAL);
  if (::tcsetattr(port->fd, TCSANOW, &t) != 0) return Fail(errno);
  constexpr uint32_t kDsrHandshake = kFOutxDsrFlow | kDtrControlMask;
  const bool asked = (settings.flags & kDsrHandshake) != (port->shadow.flags & kDsrHandshake);
  port->shadow = settings;
  int32_t result = ApplyModemLines(port->fd, ModemLinesOf(settings));
  if (result != kResultOk) return result;
  return mapped == kErrorNotSupported && asked ? Fail(EOPNOTSUPP) : kResultOk;
}

int32_t GetMask(PortHandle* port, uint32_t& mask) {
  std::lock_guard<std::mutex> guard(port->lock);
  mask = port->eventMask;
  return kResultOk;
}

int32_t SetMask(PortHandle* port, uint32_t mask) {
  std::lock_guard<std::mutex> guard(port->lock);
  port->eventMask = mask;
  if (port->pendingWait != nullptr) port->pendingWait->hEvent->Set();
  return kResultOk;
}

int32_t GetTimeouts(PortHandle* port, CommTimeouts& timeouts) {
  timeouts = port->timeouts;
  return kResultOk;
}

int32_t SetTimeouts(PortHandle* port, const CommTimeouts& timeouts) {
  port->timeouts = timeouts;
  return kResultOk;
}

int32_t StartWait(PortHandle* port, std::atomic<uint32_t>* eventType, SerialOverlapped& record) {
  std::lock_guard<std::mutex> guard(port->lock);
  if (port->pendingWait == &record && EventAccess::IsSignalled(*record.hEvent)) {
    HarvestLocked(port, record);  // the earlier wait completed; this starts a new one
  }
  if (port->pendingWait == &record) return kErrorIoPending;
  if (port->pendingWait != nullptr || port->eventMask == 0) return Fail(EINVAL);
  if (port->hungUp) return Fail(EIO);
  // Only the signal is reset: edges since the last wait stand for arrivals
  // that nobody has been told about yet.
  record.hEvent->Reset();
  int err = EventAccess::Arm(*record.hEvent, port->fd, port->serial, EPOLLIN);
  if (err != 0) return Fail(err);
  StatusOf(record).eventType = eventType;
  Track(port, record, kWait);
  port->pendingWait = &record;
  return kErrorIoPending;
}

int32_t StartRead(PortHandle* port, void* buffer, uint32_t length, uint32_t* count,
                  SerialOverlapped& record) {
  // A read that returns at once never waits on the record's event, so the
  // event is left alone: that saves a system call per read of the assembler.
  const bool atOnce = ReadsReturnAtOnce(port->timeouts);
  PrepareRecord(record, buffer, length, !atOnce);
  IoStatus& st = StatusOf(record);
  if (length == 0) return kResultOk;
  if (!atOnce) return StartTransfer(port, record, kRead, EPOLLIN, count);
  int32_t result = ReadAtOnce(port, st, length);
  if (result == kResultOk) *count = st.done;
  return result;
}

// A frame fits the tty's buffer nearly always, so the write is tried first and
// the record's event is reset and armed only for what is left over.
int32_t StartWrite(PortHandle* port, const void* data, uint32_t length, uint32_t* count,
                   SerialOverlapped& record) {
  PrepareRecord(record, const_cast<void*>(data), length, false);
  if (length == 0) return kResultOk;
  if (port->hungUp) return Fail(EIO);
  IoStatus& st = StatusOf(record);
  const int32_t result = ProgressWrite(port, st);
  if (result == kResultOk) *count = st.done;
  if (result != kErrorIoPending) return result;
  record.hEvent->Reset();
  return StartTransfer(port, record, kWrite, EPOLLOUT, count);
}

int32_t WaitIo(PortHandle* port, SerialOverlapped& record, uint32_t timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    uint32_t left = timeoutMs;
    if (timeoutMs != kInfinite) {
      auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      left = ms.count() > 0 ? static_cast<uint32_t>(ms.count()) : 0;
    }
    const int waited = EventAccess::WaitFor(*record.hEvent, left);
    if (waited < 0) return Fail(errno);
    if (waited == 0) return kErrorTimeout;
    int32_t result = Progress(port, record);
    if (result != kErrorIoPending) return result;
  }
}

int32_t GetResult(PortHandle* port, SerialOverlapped& record, uint32_t* count, bool wait) {
  IoStatus& st = StatusOf(record);
  if (st.kind != kNone && st.port != port) return Fail(EBADF);
  int32_t result = st.result;
  if (st.kind != kNone) {
    result = wait ? WaitIo(port, record, kInfinite) : Progress(port, record);
    if (result == kErrorIoPending) return kErrorIoIncomplete;
  }
  if (result == kResultOk) *count = st.done;
  return result;
}

void CancelIo(PortHandle* port, SerialOverlapped& record) {
  std::lock_guard<std::mutex> guard(port->lock);
  if (StatusOf(record).port == port) FinishLocked(port, record, kErrorOperationAborted);
}

// Taking the edges tells whether the wait's event was signalled, without a
// poll of its own: nothing taken, nothing happened, and the wait goes on.
void CollectEventWait(PortHandle* port) {
  std::lock_guard<std::mutex> guard(port->lock);
  SerialOverlapped* record = port->pendingWait;
  if (record == nullptr) return;
  const uint32_t seen = EventAccess::Consume(*record->hEvent);
  if (seen != 0) CompleteWaitLocked(port, *record, seen);
}

int32_t ClearErrors(PortHandle* port, uint32_t& errors) {
  errors = 0;
  if (!port->haveCounters) return kResultOk;
  serial_icounter_struct now{};
  if (Tty().ioctl(port->fd, TIOCGICOUNT, &now) != 0) return FailLine(port, errno);
  std::lock_guard<std::mutex> guard(port->lock);
  errors = ErrorFlagsBetween(port->counted, now);
  port->counted = now;
  return kResultOk;
}

TtyCalls SystemTtyCalls() { return {::read, ::write, SystemIoctl}; }

TtyCalls& Tty() {
  static TtyCalls calls = SystemTtyCalls();
  return calls;
}

}  // namespace vexel::comm

namespace vexel {

SerialOverlapped::SerialOverlapped() { comm::RecordAccess::Construct<comm::IoStatus>(*this); }

SerialOverlapped::~SerialOverlapped() {
  comm::IoStatus& status = StatusOf(*this);
  if (status.port != nullptr) comm::CancelIo(status.port, *this);
}

}  // namespace vexel

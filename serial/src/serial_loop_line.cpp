// CSerialLoopLine: the event wait kept going by the owner's event loop.
#include "serial/serial_loop_line.h"

#include "comm_api.h"

namespace vexel {

CSerialLoopLine::~CSerialLoopLine() { CSerialLoopLine::Close(); }

int32_t CSerialLoopLine::Open(const char* portName, ComNotifyTarget*, uint32_t, intptr_t,
                              uint32_t rxQueue, uint32_t txQueue) {
  if (IsOpen()) return Store(kErrorAlreadyInitialized);
  if (m_loop == nullptr) return Store(kErrorInvalidParameter);
  int32_t result = CSerialPort::Open(portName, rxQueue, txQueue);
  if (result != kResultOk) return result;
  m_waitEvent = new SerialEvent;
  if (!m_waitEvent->IsValid()) {
    result = StorePlatformFailure(m_waitEvent->CreateResult());
  } else {
    m_waitRecord = new SerialOverlapped;
    m_waitRecord->hEvent = m_waitEvent;
    result = WaitForEvent(m_waitRecord, kInfinite);
  }
  if (result == kResultOk) {
    const intptr_t handle = m_waitEvent->NativeHandle();
    const int osError = m_loop->WatchLine(handle, *this);
    if (osError == 0) {
      m_watched = handle;
      return kResultOk;
    }
    result = StorePlatformFailure(comm::RecordOsError(osError));
  }
  Close();
  return Store(result);
}

int32_t CSerialLoopLine::Close() {
  EndWatch();
  // The record goes first: it cancels its wait while the port still exists.
  delete m_waitRecord;
  m_waitRecord = nullptr;
  delete m_waitEvent;
  m_waitEvent = nullptr;
  return CSerialPort::Close();
}

uint32_t CSerialLoopLine::Service() {
  if (!Watched()) return 0;
  const uint32_t eventType = TakeEventType();
  if (eventType == kNoEventType) return 0;  // not signalled: the wait goes on
  const uint32_t errors = ClearLineErrors();
  uint32_t report = eventType;
  // Fails only on a line that is gone: there is nothing more to wait for,
  // and the owner hears of it now, with whatever the last wait brought.
  if (WaitForEvent(m_waitRecord, kInfinite) != kResultOk) {
    EndWatch();
    report |= kEventLineLost;
  }
  if (report == 0) return 0;
  return (errors & 0xFFFF) << 16 | (report & 0xFFFF);
}

void CSerialLoopLine::EndWatch() {
  if (m_watched == kNoHandle) return;
  const intptr_t handle = m_watched;
  m_watched = kNoHandle;
  m_loop->UnwatchLine(handle);
}

}  // namespace vexel

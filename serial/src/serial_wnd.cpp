// CSerialWnd and CSerialCWnd: the watcher thread and its start and stop.
#include "serial/serial_wnd.h"

#include <system_error>

#include "comm_api.h"

namespace vexel {

CSerialWnd::~CSerialWnd() {
  if (HasWatcher()) CSerialWnd::Close();
}

// The watcher makes virtual calls on this object, so it must have ended
// before the base-class destructors change the object's dynamic type.
CSerialCWnd::~CSerialCWnd() {
  if (HasWatcher()) CSerialWnd::Close();
}

int32_t CSerialWnd::Open(const char* portName, ComNotifyTarget* target, uint32_t message,
                         intptr_t lParam, uint32_t rxQueue, uint32_t txQueue) {
  int32_t result = CSerialPort::Open(portName, rxQueue, txQueue);
  if (result != kResultOk) return result;
  result = CreateEvents();
  if (result == kResultOk) {
    // Stored before the thread exists, so the watcher always sees them.
    m_hNotifyWnd = target;
    m_notifyMessage = message != 0 ? message : DefaultComMessage;
    m_notifyLParam = lParam;
    result = StartWatcher();
  }
  if (result == kResultOk) return kResultOk;
  ReleaseWatcher();
  CSerialPort::Close();
  return Store(result);
}

int32_t CSerialWnd::CreateEvents() {
  m_hStopEvent = new SerialEvent;
  if (!m_hStopEvent->IsValid()) return StorePlatformFailure(m_hStopEvent->CreateResult());
  m_hWaitEvent = new SerialEvent;
  if (!m_hWaitEvent->IsValid()) return StorePlatformFailure(m_hWaitEvent->CreateResult());
  return kResultOk;
}

int32_t CSerialWnd::StartWatcher() {
  try {
    m_hThread = std::thread(&CSerialWnd::WatcherEntry, this);
    return kResultOk;
  } catch (const std::system_error& e) {
    m_lastOsError = e.code().value();
    return Store(kErrorNotEnoughMemory);
  }
}

void CSerialWnd::ReleaseWatcher() {
  delete m_hStopEvent;
  m_hStopEvent = nullptr;
  delete m_hWaitEvent;
  m_hWaitEvent = nullptr;
  m_hNotifyWnd = nullptr;
  m_notifyMessage = 0;
  m_notifyLParam = 0;
}

int32_t CSerialWnd::Close() {
  if (m_hThread.joinable()) {
    m_hStopEvent->Set();
    m_hThread.join();
  }
  ReleaseWatcher();
  return CSerialPort::Close();
}

uint32_t CSerialWnd::WatcherEntry(CSerialWnd* self) { return self->WatchLoop(); }

uint32_t CSerialWnd::WatchLoop() {
  SerialOverlapped record;
  record.hEvent = m_hWaitEvent;
  SerialEvent* const waitList[] = {m_hStopEvent, m_hWaitEvent};  // stop first: it wins a tie
  int32_t result = WaitForEvent(&record, kInfinite);
  while (result == kResultOk) {
    if (SerialEvent::WaitAny(waitList, 2, kInfinite) != 1) return 0;
    const uint32_t eventType = TakeEventType();
    const uint32_t errors = ClearLineErrors();
    if (eventType != 0 && eventType != kNoEventType && m_hNotifyWnd != nullptr) {
      m_hNotifyWnd->PostComMessage(m_notifyMessage, (errors & 0xFFFF) << 16 | (eventType & 0xFFFF),
                                   m_notifyLParam);
    }
    result = WaitForEvent(&record, kInfinite);
  }
  // A wait that cannot be started again means the line is gone, unless Close
  // is what ended it: tell the owner once, so it need not wait for a timer.
  if (!m_hStopEvent->Wait(0) && m_hNotifyWnd != nullptr) {
    m_hNotifyWnd->PostComMessage(m_notifyMessage, kEventLineLost, m_notifyLParam);
  }
  return static_cast<uint32_t>(result);
}

}  // namespace vexel

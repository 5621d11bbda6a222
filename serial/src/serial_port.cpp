// CSerialPort: the result convention, read-modify-write of the device
// settings, the defaults and their order, and the two forms of waiting,
// written against the communications calls of comm_api.h.
#include "serial/serial_port.h"

#include <cstring>

#include "comm_api.h"
#include "device_settings.h"
#include "serial/port_names.h"

namespace vexel {

CSerialPort::~CSerialPort() { CSerialPort::Close(); }

int32_t CSerialPort::Store(int32_t code) {
  m_lastError = code;
  return code;
}

int32_t CSerialPort::StorePlatformFailure(int32_t code) {
  m_lastOsError = comm::LastOsError();
  return Store(code);
}

int32_t CSerialPort::Begin() {
  m_lastError = kResultOk;
  return m_hPort != nullptr ? kResultOk : Store(kErrorInvalidHandle);
}

int32_t CSerialPort::Open(const char* portName, uint32_t rxQueue, uint32_t txQueue) {
  m_lastError = kResultOk;
  if (m_hPort != nullptr) return Store(kErrorAlreadyInitialized);
  comm::PortHandle* port = nullptr;
  int32_t result = comm::OpenPort(ResolvePortName(portName != nullptr ? portName : ""), port);
  if (result != kResultOk) return StorePlatformFailure(result);
  auto* event = new SerialEvent;
  if (!event->IsValid()) {
    result = StorePlatformFailure(event->CreateResult());
    delete event;
    comm::ClosePort(port);
    return result;
  }
  m_hPort = port;
  m_hIoEvent = event;
  result = comm::SetupQueues(m_hPort, rxQueue, txQueue);
  if (result != kResultOk) {
    const int osError = comm::LastOsError();
    Close();
    m_lastOsError = osError;
    return Store(result);
  }
  ApplyDefaults();
  return m_lastError;
}

// Through the virtual table, without looking at the results: only the last
// step's failure reaches the caller, through m_lastError.
void CSerialPort::ApplyDefaults() {
  SetEventMask(comm::kDefaultEventMask);
  SetLineFormat(comm::kDefaultBaudRate, comm::kDefaultDataBits, comm::kDefaultParity,
                comm::kDefaultStopBits);
  SetReadMode(comm::kDefaultReadMode);
  SetFlowControl(comm::kDefaultFlowControl);
}

int32_t CSerialPort::Close() {
  m_lastError = kResultOk;
  if (m_hPort == nullptr) return kResultOk;
  delete m_hIoEvent;
  m_hIoEvent = nullptr;
  comm::ClosePort(m_hPort);
  m_hPort = nullptr;
  return kResultOk;
}

uint32_t CSerialPort::ClearLineErrors() {
  uint32_t errors = 0;
  const int32_t result = comm::ClearErrors(m_hPort, errors);
  if (result == kResultOk) return errors;
  StorePlatformFailure(result);
  return 0;
}

bool CSerialPort::ReadSettings(comm::DeviceSettings& settings) {
  if (Begin() != kResultOk) return false;
  const int32_t result = comm::GetState(m_hPort, settings);
  if (result == kResultOk) return true;
  StorePlatformFailure(result);
  return false;
}

int32_t CSerialPort::SetLineFormat(uint32_t baudRate, uint8_t dataBits, uint8_t parity,
                                   uint8_t stopBits) {
  comm::DeviceSettings settings;
  if (!ReadSettings(settings)) return m_lastError;
  comm::SetLineFormatFields(settings, baudRate, dataBits, parity, stopBits);
  const int32_t result = comm::SetState(m_hPort, settings);
  return result == kResultOk ? kResultOk : StorePlatformFailure(result);
}

int32_t CSerialPort::SetEventCharacter(uint8_t character, bool addToMask) {
  comm::DeviceSettings settings;
  if (!ReadSettings(settings)) return m_lastError;
  settings.EvtChar = character;
  if (addToMask) SetEventMask(GetEventMask() | kEventRxFlag);
  const int32_t result = comm::SetState(m_hPort, settings);
  return result == kResultOk ? m_lastError.load() : StorePlatformFailure(result);
}

int32_t CSerialPort::SetEventMask(uint32_t mask) {
  if (int32_t closed = Begin()) return closed;
  const int32_t result = comm::SetMask(m_hPort, mask);
  return result == kResultOk ? kResultOk : StorePlatformFailure(result);
}

int32_t CSerialPort::WaitForEvent(SerialOverlapped* overlapped, uint32_t timeoutMs) {
  if (int32_t closed = Begin()) return closed;
  if (overlapped != nullptr && overlapped->hEvent == nullptr) {
    return Store(kErrorInvalidParameter);
  }
  SerialOverlapped local;
  local.hEvent = m_hIoEvent;
  SerialOverlapped& record = overlapped != nullptr ? *overlapped : local;
  return FinishIo(comm::StartWait(m_hPort, &m_eventType, record), overlapped, local, nullptr,
                  timeoutMs);
}

int32_t CSerialPort::SetFlowControl(FlowControl mode) {
  comm::DeviceSettings settings;
  if (!ReadSettings(settings)) return m_lastError;
  if (!comm::ApplyFlowControl(settings, mode)) return Store(kErrorInvalidArg);
  const int32_t result = comm::SetState(m_hPort, settings);
  return result == kResultOk ? kResultOk : StorePlatformFailure(result);
}

int32_t CSerialPort::SetReadMode(ReadMode mode) {
  if (int32_t closed = Begin()) return closed;
  comm::CommTimeouts timeouts;
  int32_t result = comm::GetTimeouts(m_hPort, timeouts);
  if (result != kResultOk) return StorePlatformFailure(result);
  if (!comm::ApplyReadMode(timeouts, mode)) return Store(kErrorInvalidArg);
  result = comm::SetTimeouts(m_hPort, timeouts);
  return result == kResultOk ? kResultOk : StorePlatformFailure(result);
}

int32_t CSerialPort::GetBaudRate() {
  comm::DeviceSettings settings;
  return ReadSettings(settings) ? static_cast<int32_t>(settings.BaudRate) : -1;
}

int32_t CSerialPort::GetDataBits() {
  comm::DeviceSettings settings;
  return ReadSettings(settings) ? settings.ByteSize : -1;
}

int32_t CSerialPort::GetParity() {
  comm::DeviceSettings settings;
  return ReadSettings(settings) ? comm::ParityOf(settings) : -1;
}

int32_t CSerialPort::GetStopBits() {
  comm::DeviceSettings settings;
  return ReadSettings(settings) ? settings.StopBits : -1;
}

int32_t CSerialPort::GetFlowControl() {
  comm::DeviceSettings settings;
  return ReadSettings(settings) ? comm::FlowControlOf(settings) : -1;
}

uint32_t CSerialPort::GetEventMask() {
  if (Begin() != kResultOk) return 0;
  uint32_t mask = 0;
  const int32_t result = comm::GetMask(m_hPort, mask);
  if (result == kResultOk) return mask;
  StorePlatformFailure(result);
  return 0;
}

uint8_t CSerialPort::GetEventCharacter() {
  comm::DeviceSettings settings;
  return ReadSettings(settings) ? settings.EvtChar : 0;
}

int32_t CSerialPort::Write(const char* text, uint32_t* count, SerialOverlapped* overlapped,
                           uint32_t timeoutMs) {
  const auto length = static_cast<uint32_t>(text != nullptr ? std::strlen(text) : 0);
  return Write(static_cast<const void*>(text), length, count, overlapped, timeoutMs);
}

int32_t CSerialPort::Write(const void* data, uint32_t length, uint32_t* count,
                           SerialOverlapped* overlapped, uint32_t timeoutMs) {
  return Transfer(count, overlapped, timeoutMs, [&](uint32_t* done, SerialOverlapped& record) {
    return comm::StartWrite(m_hPort, data, length, done, record);
  });
}

int32_t CSerialPort::Read(void* buffer, uint32_t length, uint32_t* count,
                          SerialOverlapped* overlapped, uint32_t timeoutMs) {
  return Transfer(count, overlapped, timeoutMs, [&](uint32_t* done, SerialOverlapped& record) {
    return comm::StartRead(m_hPort, buffer, length, done, record);
  });
}

// The count is set to 0 before the open check, so a closed port also
// reports none; without a caller's record the call is synchronous.
template <typename Start>
int32_t CSerialPort::Transfer(uint32_t* count, SerialOverlapped* overlapped, uint32_t timeoutMs,
                              Start start) {
  uint32_t scratch = 0;
  uint32_t* done = count != nullptr ? count : &scratch;
  *done = 0;
  if (int32_t closed = Begin()) return closed;
  if (overlapped != nullptr && overlapped->hEvent == nullptr) {
    return Store(kErrorInvalidParameter);
  }
  SerialOverlapped local;
  local.hEvent = m_hIoEvent;
  SerialOverlapped& record = overlapped != nullptr ? *overlapped : local;
  return FinishIo(start(done, record), overlapped, local, done, timeoutMs);
}

// The common tail of the waits, reads and writes: completed at once, failed,
// pending on the caller's record, or pending in the synchronous form.
int32_t CSerialPort::FinishIo(int32_t started, SerialOverlapped* overlapped,
                              SerialOverlapped& local, uint32_t* count, uint32_t timeoutMs) {
  if (started == kResultOk) {
    // Only a caller's record can be waited on once the call has returned;
    // the synchronous form's event is reset by its next use anyway, so
    // signalling it would only cost a system call per read and write.
    if (overlapped != nullptr) overlapped->hEvent->Set();
    return kResultOk;
  }
  if (started != kErrorIoPending) return StorePlatformFailure(started);
  if (overlapped != nullptr) return kResultOk;
  return CompleteSync(local, count, timeoutMs);
}

int32_t CSerialPort::CompleteSync(SerialOverlapped& record, uint32_t* count, uint32_t timeoutMs) {
  int32_t result = comm::WaitIo(m_hPort, record, timeoutMs);
  if (result != kResultOk) {
    // Cancelled before returning: nothing more reaches the buffer or count.
    comm::CancelIo(m_hPort, record);
    return result == kErrorTimeout ? Store(kErrorTimeout) : StorePlatformFailure(result);
  }
  uint32_t scratch = 0;
  result = comm::GetResult(m_hPort, record, count != nullptr ? count : &scratch, false);
  return result == kResultOk ? kResultOk : StorePlatformFailure(result);
}

uint32_t CSerialPort::TakeEventType() {
  if (m_hPort != nullptr) comm::CollectEventWait(m_hPort);
  return m_eventType.exchange(kNoEventType);
}

int32_t CSerialPort::GetOverlappedResult(SerialOverlapped& overlapped, uint32_t* count, bool wait) {
  uint32_t scratch = 0;
  uint32_t* done = count != nullptr ? count : &scratch;
  *done = 0;
  if (int32_t closed = Begin()) return closed;
  const int32_t result = comm::GetResult(m_hPort, overlapped, done, wait);
  if (result == kResultOk) return kResultOk;
  return result == kErrorIoIncomplete ? Store(result) : StorePlatformFailure(result);
}

}  // namespace vexel

#include "sim/memory_port.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>

namespace vexel::sim {

MemoryPort::MemoryPort(ModuleSimulator& module, VirtualClock& clock)
    : m_module(module), m_clock(clock) {}

MemoryPort::~MemoryPort() { Close(); }

int32_t MemoryPort::Open(const char* portName, ComNotifyTarget* target, uint32_t message,
                         intptr_t lParam, uint32_t, uint32_t) {
  if (m_open) return kErrorAlreadyInitialized;
  if (m_openResult != kResultOk) return m_openResult;
  m_openedName = portName;
  m_target = target;
  m_message = message;
  m_lParam = lParam;
  m_open = true;
  m_hungUp = false;
  ++m_openCount;
  m_baud = 9600;
  m_parity = kParityNone;
  m_stopBits = kOneStopBit;
  m_flow = FlowNone;
  m_readMode = ReadNonBlocking;
  m_module.ResetLine();
  return kResultOk;
}

int32_t MemoryPort::Close() {
  for (auto handle : m_pending) m_clock.Cancel(handle);
  m_pending.clear();
  m_rx.clear();
  m_rxAt = 0;
  m_open = false;
  m_target = nullptr;
  return kResultOk;
}

int32_t MemoryPort::SetLineFormat(uint32_t baudRate, uint8_t, uint8_t parity, uint8_t stopBits) {
  if (!m_open) return kErrorInvalidHandle;
  if (m_lineFormatResult != kResultOk) return m_lineFormatResult;
  m_baud = baudRate;
  m_parity = parity;
  m_stopBits = stopBits;
  return kResultOk;
}

int32_t MemoryPort::SetFlowControl(FlowControl mode) {
  if (!m_open) return kErrorInvalidHandle;
  if (mode < FlowNone || mode > FlowXonXoff) return kErrorInvalidArg;
  m_flow = mode;
  return kResultOk;
}

int32_t MemoryPort::SetReadMode(ReadMode mode) {
  if (!m_open) return kErrorInvalidHandle;
  if (mode != ReadNonBlocking && mode != ReadBlocking) return kErrorInvalidArg;
  m_readMode = mode;
  return kResultOk;
}

int32_t MemoryPort::Write(const void* data, uint32_t length, uint32_t* count, SerialOverlapped*,
                          uint32_t) {
  if (count != nullptr) *count = 0;
  if (!m_open) return kErrorInvalidHandle;
  const auto* bytes = static_cast<const uint8_t*>(data);
  m_writes.emplace_back(bytes, bytes + length);
  if (count != nullptr) *count = length;
  if (m_hungUp) return kResultOk;  // nobody is listening any more
  // Each delivery follows the previous one, and replies never overtake the
  // replies to earlier requests. Deliveries due at the same time (a reply
  // split a byte at a time) share one callback: the order is the same as
  // one callback each, without hundreds of them for a long split frame.
  uint64_t at = std::max(m_clock.Now(), m_lineFreeAt);
  std::vector<Delivery> deliveries = m_module.Consume(bytes, length);
  for (size_t first = 0; first < deliveries.size();) {
    at += deliveries[first].delayMs;
    size_t end = first + 1;
    while (end < deliveries.size() && deliveries[end].delayMs == 0) ++end;
    std::vector<Delivery> group(
        std::make_move_iterator(deliveries.begin() + static_cast<std::ptrdiff_t>(first)),
        std::make_move_iterator(deliveries.begin() + static_cast<std::ptrdiff_t>(end)));
    m_pending.push_back(
        m_clock.Schedule(at - m_clock.Now(), [this, group = std::move(group)] { Deliver(group); }));
    first = end;
  }
  m_lineFreeAt = at;
  return kResultOk;
}

int32_t MemoryPort::Read(void* buffer, uint32_t length, uint32_t* count, SerialOverlapped*,
                         uint32_t) {
  if (count != nullptr) *count = 0;
  if (!m_open) return kErrorInvalidHandle;
  const uint32_t n = static_cast<uint32_t>(std::min<size_t>(length, QueuedBytes()));
  if (n > 0) std::memcpy(buffer, m_rx.data() + m_rxAt, n);
  m_rxAt += n;
  if (m_rxAt == m_rx.size()) {
    m_rx.clear();
    m_rxAt = 0;
  }
  if (count != nullptr) *count = n;
  return kResultOk;
}

void MemoryPort::Inject(const std::vector<uint8_t>& bytes, uint32_t eventType) {
  if (!m_open) return;
  Receive(bytes);
  Notify(eventType);
}

void MemoryPort::Deliver(const std::vector<Delivery>& group) {
  m_pending.pop_front();  // deliveries run in scheduling order
  for (const Delivery& delivery : group) {
    if (delivery.hangUp) {
      // The watcher reports the loss once and ends: no more notifications,
      // writes go nowhere.
      Notify(kEventLineLost);
      m_hungUp = true;
      for (auto handle : m_pending) m_clock.Cancel(handle);
      m_pending.clear();
      return;
    }
    Receive(delivery.bytes);
    Notify(kEventRxChar);
  }
}

// What was read is dropped only when it is most of the buffer, so the cost
// stays linear in the bytes received however small the reads.
void MemoryPort::Receive(const std::vector<uint8_t>& bytes) {
  if (m_rxAt > 0 && m_rxAt >= m_rx.size() / 2) {
    m_rx.erase(m_rx.begin(), m_rx.begin() + static_cast<std::ptrdiff_t>(m_rxAt));
    m_rxAt = 0;
  }
  m_rx.insert(m_rx.end(), bytes.begin(), bytes.end());
}

void MemoryPort::Notify(uint32_t eventType) {
  if (m_target != nullptr && !m_hungUp)
    m_target->PostComMessage(m_message, eventType & 0xFFFF, m_lParam);
}

}  // namespace vexel::sim

// An in-memory serial line between a controller and a ModuleSimulator, on
// virtual time: what the controller writes goes to the simulator, and its
// replies arrive after the delays it asks for, each as one receive
// notification to the port's target.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "serial/serial_line.h"
#include "sim/module_simulator.h"
#include "sim/virtual_clock.h"

namespace vexel::sim {

class MemoryPort final : public ISerialLine {
 public:
  MemoryPort(ModuleSimulator& module, VirtualClock& clock);
  ~MemoryPort() override;

  int32_t Open(const char* portName, ComNotifyTarget* target, uint32_t message, intptr_t lParam,
               uint32_t rxQueue, uint32_t txQueue) override;
  int32_t Close() override;
  int32_t SetLineFormat(uint32_t baudRate, uint8_t dataBits, uint8_t parity,
                        uint8_t stopBits) override;
  int32_t SetFlowControl(FlowControl mode) override;
  int32_t SetReadMode(ReadMode mode) override;
  int32_t Write(const void* data, uint32_t length, uint32_t* count, SerialOverlapped* overlapped,
                uint32_t timeoutMs) override;
  int32_t Read(void* buffer, uint32_t length, uint32_t* count, SerialOverlapped* overlapped,
               uint32_t timeoutMs) override;

  // Test controls.
  void SetOpenResult(int32_t result) { m_openResult = result; }
  void SetLineFormatResult(int32_t result) { m_lineFormatResult = result; }
  /// Puts @p bytes on the line from the module's side and notifies
  /// @p eventType (kEventRxChar, or a break or error event) at once.
  void Inject(const std::vector<uint8_t>& bytes, uint32_t eventType = kEventRxChar);

  // Observations.
  bool IsOpen() const { return m_open; }
  bool HungUp() const { return m_hungUp; }
  const std::string& OpenedName() const { return m_openedName; }
  /// One entry per Write call, in order, since construction.
  const std::vector<std::vector<uint8_t>>& Writes() const { return m_writes; }
  size_t QueuedBytes() const { return m_rx.size() - m_rxAt; }
  uint32_t BaudRate() const { return m_baud; }
  uint8_t Parity() const { return m_parity; }
  uint8_t StopBits() const { return m_stopBits; }
  FlowControl Flow() const { return m_flow; }
  ReadMode Mode() const { return m_readMode; }
  int OpenCount() const { return m_openCount; }

 private:
  void Notify(uint32_t eventType);
  void Deliver(const std::vector<Delivery>& group);
  void Receive(const std::vector<uint8_t>& bytes);

  ModuleSimulator& m_module;
  VirtualClock& m_clock;
  ComNotifyTarget* m_target = nullptr;
  uint32_t m_message = 0;
  intptr_t m_lParam = 0;
  bool m_open = false;
  bool m_hungUp = false;
  int m_openCount = 0;
  int32_t m_openResult = kResultOk;
  int32_t m_lineFormatResult = kResultOk;
  std::string m_openedName;
  uint32_t m_baud = 9600;
  uint8_t m_parity = kParityNone;
  uint8_t m_stopBits = kOneStopBit;
  FlowControl m_flow = FlowNone;
  ReadMode m_readMode = ReadNonBlocking;
  // Received bytes not read yet start at m_rxAt: a loader hunting for sync
  // reads noise one byte at a time, and each read only moves the offset.
  std::vector<uint8_t> m_rx;
  size_t m_rxAt = 0;
  std::vector<std::vector<uint8_t>> m_writes;
  // Callbacks of deliveries not yet made, in the order they run.
  std::deque<VirtualClock::Handle> m_pending;
  uint64_t m_lineFreeAt = 0;  // the module answers requests in order
};

}  // namespace vexel::sim

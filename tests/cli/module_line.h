// An in-process module behind a PortLine, on its event loop's clock: what
// the runner writes goes to the simulator core, and its replies are posted
// back after the delays it asks for, through the event loop like a watcher
// would.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "runner/port_line.h"
#include "sim/module_fixture.h"
#include "sim/module_simulator.h"

namespace vexel::cli::test {

/// What a test sets up and later inspects; shared with the line, which the
/// session owns and destroys.
struct ModuleLineState {
  int32_t openResult = kResultOk;
  int32_t lineFormatResult = kResultOk;
  int osError = 0;
  std::string device;          ///< DevicePath's answer; the port name when empty
  std::string adapterWarning;  ///< AdapterWarning's answer
  sim::ModuleSimulator module;
  /// When set, a fixture of modules that come and go answers instead of
  /// @c module (its clock: milliseconds of the event loop's clock).
  std::shared_ptr<sim::ModuleFixture> fixture;
  /// Called at every successful Open, with the loop the line runs on.
  std::function<void(EventLoop&)> onOpen;
  int opens = 0;
  int refusedOpens = 0;       ///< Opens that failed with openResult
  EventLoop* loop = nullptr;  ///< the loop of the line opened last
  bool open = false;
  int closes = 0;
  uint32_t baud = 0;
  uint8_t parity = 0xFF;
  uint8_t stopBits = 0xFF;
  // The line itself, here so that replies still in flight never outlive it.
  ComNotifyTarget* target = nullptr;
  std::deque<uint8_t> rx;
  int generation = 0;  // bumped by Close: replies still on their way are dropped
};

class ModuleLine final : public PortLine, public ISerialLine {
 public:
  using Resolver = std::function<std::shared_ptr<ModuleLineState>(const std::string& port)>;

  explicit ModuleLine(std::shared_ptr<ModuleLineState> state) : m_state(std::move(state)) {}
  /// A line that finds its module by the port name it is opened with, for
  /// sessions that make lines without saying for which port.
  explicit ModuleLine(Resolver resolve)
      : m_state(std::make_shared<ModuleLineState>()), m_resolve(std::move(resolve)) {}
  ~ModuleLine() override { Close(); }

  ISerialLine& Line() override { return *this; }
  void AttachEventLoop(LineEventLoop&, EventLoop& loop) override { m_loop = &loop; }
  int LastOsError() const override { return m_state->osError; }
  std::string AdapterWarning(const std::string&) const override { return m_state->adapterWarning; }
  std::string DevicePath(const std::string& portName) const override {
    return m_state->device.empty() ? portName : m_state->device;
  }
  std::string DescribeResult(int32_t result) const override {
    return "result " + std::to_string(result);
  }

  int32_t Open(const char* port, ComNotifyTarget* target, uint32_t, intptr_t, uint32_t,
               uint32_t) override {
    if (m_resolve && !m_state->open) m_state = m_resolve(port);
    if (m_state->open) return kErrorAlreadyInitialized;
    if (m_state->openResult != kResultOk) {
      ++m_state->refusedOpens;
      return m_state->openResult;
    }
    m_state->open = true;
    m_state->target = target;
    ++m_state->opens;
    m_state->loop = m_loop;
    if (m_state->fixture) {
      m_state->fixture->ResetLine();
    } else {
      m_state->module.ResetLine();
    }
    if (m_state->onOpen) m_state->onOpen(*m_loop);
    return kResultOk;
  }
  int32_t Close() override {
    if (m_state->open) ++m_state->closes;
    m_state->open = false;
    m_state->target = nullptr;
    m_state->rx.clear();
    ++m_state->generation;
    return kResultOk;
  }
  int32_t SetLineFormat(uint32_t baud, uint8_t, uint8_t parity, uint8_t stopBits) override {
    if (m_state->lineFormatResult != kResultOk) return m_state->lineFormatResult;
    m_state->baud = baud;
    m_state->parity = parity;
    m_state->stopBits = stopBits;
    return kResultOk;
  }
  int32_t SetFlowControl(FlowControl) override { return kResultOk; }
  int32_t SetReadMode(ReadMode) override { return kResultOk; }
  int32_t Write(const void* data, uint32_t length, uint32_t* count, SerialOverlapped*,
                uint32_t) override {
    if (count != nullptr) *count = length;
    uint32_t at = 0;
    const auto* bytes = static_cast<const uint8_t*>(data);
    const auto deliveries = m_state->fixture ? m_state->fixture->Consume(bytes, length, NowMs())
                                             : m_state->module.Consume(bytes, length);
    for (auto& delivery : deliveries) {
      at += delivery.delayMs;
      // A hang-up is the line's last event, as the serial library reports it.
      const uint32_t event = delivery.hangUp ? kEventLineLost : kEventRxChar;
      const auto due = m_loop->Now() + std::chrono::milliseconds(at);
      m_loop->StartTimer(
          due, [state = m_state, generation = m_state->generation, bytes = delivery.bytes, event] {
            if (generation != state->generation || state->target == nullptr) return;
            state->rx.insert(state->rx.end(), bytes.begin(), bytes.end());
            state->target->PostComMessage(0, event, 0);
          });
      if (delivery.hangUp) break;
    }
    return kResultOk;
  }
  int32_t Read(void* buffer, uint32_t length, uint32_t* count, SerialOverlapped*,
               uint32_t) override {
    uint32_t n = 0;
    auto* out = static_cast<uint8_t*>(buffer);
    for (auto& rx = m_state->rx; n < length && !rx.empty(); ++n) {
      out[n] = rx.front();
      rx.pop_front();
    }
    if (count != nullptr) *count = n;
    return kResultOk;
  }

 private:
  int64_t NowMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(m_loop->Now().time_since_epoch())
        .count();
  }

  std::shared_ptr<ModuleLineState> m_state;
  Resolver m_resolve;
  EventLoop* m_loop = nullptr;
};

}  // namespace vexel::cli::test

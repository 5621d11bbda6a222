// A controller host on real time for the tests that run the whole exchange
// over a real line: repeating timers, and a queue for the watcher's
// notifications that the test thread dispatches, as a window system would.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "protocol/programming_controller.h"
#include "serial/serial_wnd.h"

namespace vexel::test {

class RealTimeHost final : public ControllerHost, public ComNotifyTarget {
 public:
  using Clock = std::chrono::steady_clock;

  explicit RealTimeHost(std::string portName) : m_portName(std::move(portName)) {}
  void Attach(ProgrammingController& controller) { m_controller = &controller; }

  /// Dispatches notifications and timer expiries until @p done or @p limit.
  bool RunUntil(const std::function<bool()>& done,
                std::chrono::milliseconds limit = std::chrono::milliseconds(30000)) {
    const auto giveUp = Clock::now() + limit;
    while (!done()) {
      if (Clock::now() >= giveUp) return false;
      for (uint32_t wParam : TakeNotifications(std::min(giveUp, NextTimerDue()))) {
        m_controller->HandleLineEvent(wParam & 0xFFFF);
      }
      FireDueTimers();
    }
    return true;
  }

  std::vector<std::string> m_messages;
  std::vector<std::string> m_progress;
  std::string m_status;
  Clock::time_point m_connectedAt{};

  int GetPortChoice() override { return 1; }
  std::string GetPortName() override { return m_portName; }
  void ShowConnected() override {
    m_status = text::kConnected;
    m_connectedAt = Clock::now();
  }
  void ShowDisconnected() override { m_status = text::kNotConnected; }
  void ShowStatus(const std::string& text) override { m_status = text; }
  void ShowMessage(const std::string& text) override { m_messages.push_back(text); }
  void StartTimer(uint32_t id, uint32_t ms) override {
    m_timers[id] = {std::chrono::milliseconds(ms), Clock::now() + std::chrono::milliseconds(ms)};
  }
  void StopTimer(uint32_t id) override { m_timers.erase(id); }
  void OpenProgress(uint32_t range) override { m_progress.push_back("open " + std::to_string(range)); }
  void SetProgress(uint32_t position) override { m_progress.push_back(std::to_string(position)); }
  void CloseProgress() override { m_progress.push_back("close"); }
  ComNotifyTarget* NotificationTarget() override { return this; }

  void PostComMessage(uint32_t message, uint32_t wParam, intptr_t) override {
    std::lock_guard<std::mutex> guard(m_lock);
    if (message == DefaultComMessage) m_queue.push_back(wParam);
    m_arrived.notify_all();
  }

 private:
  struct Timer {
    std::chrono::milliseconds interval;
    Clock::time_point due;
  };

  Clock::time_point NextTimerDue() const {
    auto next = Clock::time_point::max();
    for (const auto& [id, timer] : m_timers) next = std::min(next, timer.due);
    return next;
  }

  std::deque<uint32_t> TakeNotifications(Clock::time_point until) {
    std::unique_lock<std::mutex> lock(m_lock);
    m_arrived.wait_until(lock, until, [this] { return !m_queue.empty(); });
    return std::exchange(m_queue, {});
  }

  // Timers repeat until stopped; the controller stops each one first.
  void FireDueTimers() {
    std::vector<uint32_t> due;
    for (const auto& [id, timer] : m_timers) {
      if (timer.due <= Clock::now()) due.push_back(id);
    }
    for (uint32_t id : due) {
      auto found = m_timers.find(id);
      if (found == m_timers.end()) continue;
      found->second.due += found->second.interval;
      m_controller->HandleTimer(id);
    }
  }

  std::string m_portName;
  ProgrammingController* m_controller = nullptr;
  std::map<uint32_t, Timer> m_timers;
  std::mutex m_lock;
  std::condition_variable m_arrived;
  std::deque<uint32_t> m_queue;
};

}  // namespace vexel::test

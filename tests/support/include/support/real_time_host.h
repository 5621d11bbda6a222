// A controller host on real time for the tests that run the whole exchange
// over a real line: repeating timers, and a queue for the watcher's
// notifications that the test thread dispatches, as a window system would.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "protocol/programming_controller.h"

namespace vexel::test {

class RealTimeHost final : public ControllerHost, public ComNotifyTarget {
 public:
  using Clock = std::chrono::steady_clock;

  /// @p portName is handed to the port's Open; empty keeps the COM1 default.
  explicit RealTimeHost(std::string portName = {}) : m_portName(std::move(portName)) {}
  void Attach(ProgrammingController& controller) { m_controller = &controller; }

  /// Dispatches notifications and timer expiries until @p done holds; false
  /// if @p limit passes first (a safety net only).
  bool RunUntil(const std::function<bool()>& done,
                std::chrono::milliseconds limit = std::chrono::milliseconds(30000));

  /// What the user would have seen, in order: "CONNECTED", "NOT CONNECTED",
  /// "status TEXT", "message TEXT", "progress open N", "progress N",
  /// "progress close".
  const std::vector<std::string>& Log() const { return m_log; }
  /// The message boxes' texts, in order.
  std::vector<std::string> Messages() const { return Entries("message "); }
  /// The progress display's changes: "open N", "N", "close".
  std::vector<std::string> Progress() const { return Entries("progress "); }
  /// The latest status text shown, including CONNECTED / NOT CONNECTED.
  const std::string& Status() const { return m_status; }
  /// When the connected view was last shown.
  Clock::time_point ConnectedAt() const { return m_connectedAt; }

  // ControllerHost
  int GetPortChoice() override { return 1; }
  std::string GetPortName() override;
  void ShowConnected() override;
  void ShowDisconnected() override;
  void ShowStatus(const std::string& text) override;
  void ShowMessage(const std::string& text) override;
  void StartTimer(uint32_t id, uint32_t ms) override;
  void StopTimer(uint32_t id) override;
  void OpenProgress(uint32_t range) override;
  void SetProgress(uint32_t position) override;
  void CloseProgress() override;
  ComNotifyTarget* NotificationTarget() override { return this; }

  // ComNotifyTarget: on the watcher thread; only queues.
  void PostComMessage(uint32_t message, uint32_t wParam, intptr_t lParam) override;

 private:
  struct Timer {
    std::chrono::milliseconds interval;
    Clock::time_point due;
  };

  std::vector<std::string> Entries(const std::string& prefix) const;
  void WaitForInput(Clock::time_point until);
  void FireDueTimers();
  Clock::time_point NextDue(Clock::time_point limit) const;

  std::string m_portName;
  ProgrammingController* m_controller = nullptr;
  std::map<uint32_t, Timer> m_timers;
  std::vector<std::string> m_log;
  std::string m_status;
  Clock::time_point m_connectedAt{};

  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::deque<uint32_t> m_events;  // wParam of each notification, guarded by m_mutex
};

}  // namespace vexel::test

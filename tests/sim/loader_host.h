// A minimal loader around the real stack, for end-to-end tests: hosts a
// ProgrammingController with real timers, takes the serial watcher's
// notifications through a thread-safe queue, and runs the event loop.
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

namespace vexel::sim::test {

class LoaderHost final : public ControllerHost, public ComNotifyTarget {
 public:
  using Clock = std::chrono::steady_clock;

  void Attach(ProgrammingController& controller) { m_controller = &controller; }

  /// Dispatches notifications and timer expiries until @p done holds; false
  /// if @p limit passes first (a safety net only).
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

  /// What the user would have seen, in order: "CONNECTED", "NOT CONNECTED",
  /// "status TEXT", "message TEXT", "progress open N", "progress N",
  /// "progress close".
  const std::vector<std::string>& Log() const { return m_log; }
  std::vector<std::string> Messages() const;
  /// The latest status text shown, including CONNECTED / NOT CONNECTED.
  const std::string& Status() const { return m_status; }

  // ControllerHost
  int GetPortChoice() override { return 1; }
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

  void WaitForInput(Clock::time_point until);
  void FireDueTimers();
  Clock::time_point NextDue(Clock::time_point limit) const;

  ProgrammingController* m_controller = nullptr;
  std::map<uint32_t, Timer> m_timers;
  std::vector<std::string> m_log;
  std::string m_status;

  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::deque<uint32_t> m_events;  // wParam of each notification, guarded by m_mutex
};

}  // namespace vexel::sim::test

// A ControllerHost on virtual time: timers and posted line notifications run
// on a VirtualClock, and everything the controller shows is recorded as a
// line of text. Tests, the fuzzer, the benchmarks and the demonstration use it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "protocol/programming_controller.h"
#include "sim/virtual_clock.h"

namespace vexel::sim {

class VirtualHost : public ControllerHost, public ComNotifyTarget {
 public:
  explicit VirtualHost(VirtualClock& clock) : m_clock(clock) {}

  /// The controller that timer expiries and notifications are handed to.
  void Attach(ProgrammingController* controller) { m_controller = controller; }
  void SetPortChoice(int choice) { m_portChoice = choice; }
  /// Called inside ShowMessage, as if while the box were open.
  void OnMessage(std::function<void()> whileOpen) { m_whileOpen = std::move(whileOpen); }
  /// Every host call is also passed to this, as its record line.
  void OnEvent(std::function<void(const std::string&)> sink) { m_sink = std::move(sink); }

  int GetPortChoice() override { return m_portChoice; }
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
  void PostComMessage(uint32_t message, uint32_t wParam, intptr_t lParam) override;

  // What was shown.
  const std::string& Status() const { return m_status; }
  bool Green() const { return m_green; }
  bool ConnectedLook() const { return m_connectedLook; }
  const std::vector<std::string>& Messages() const { return m_messages; }
  /// "connected", "disconnected", "status X", "message X", "progress open N",
  /// "progress N", "progress close", in order.
  const std::vector<std::string>& Events() const { return m_events; }
  void ClearEvents() { m_events.clear(); }
  bool TimerRunning(uint32_t id) const { return m_timers.count(id) != 0; }
  size_t RunningTimers() const { return m_timers.size(); }
  /// Progress displays open now; the held one is the last.
  int OpenDisplays() const { return m_openDisplays; }
  uint32_t ProgressRange() const { return m_range; }
  uint32_t ProgressPosition() const { return m_position; }

 private:
  void Record(const std::string& line);
  void Expire(uint32_t id, uint32_t ms);

  VirtualClock& m_clock;
  ProgrammingController* m_controller = nullptr;
  int m_portChoice = 1;
  std::function<void()> m_whileOpen;
  std::function<void(const std::string&)> m_sink;
  std::map<uint32_t, VirtualClock::Handle> m_timers;
  std::string m_status;
  bool m_green = false;
  bool m_connectedLook = false;
  std::vector<std::string> m_messages;
  std::vector<std::string> m_events;
  int m_openDisplays = 0;
  uint32_t m_range = 0;
  uint32_t m_position = 0;
};

}  // namespace vexel::sim

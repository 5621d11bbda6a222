// One port of a load: its serial line, image snapshot and controller, with
// the controller's host operations on the loader's event loop.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <string>

#include "loop/deadline_timers.h"
#include "loop/event_loop.h"
#include "loop/run_clock.h"
#include "output/run_output.h"
#include "output/run_summary.h"
#include "protocol/frame_name.h"
#include "protocol/programming_controller.h"
#include "runner/port_line.h"

namespace vexel::cli {

/// What a runner reports to the session that owns it.
class PortRunnerListener {
 public:
  virtual void OnPortEvent(const PortEvent& event) = 0;
  /// Every frame written (@p sent) or received, with its command name.
  virtual void OnPortFrame(size_t port, bool sent, FrameName name, const uint8_t* frame,
                           size_t length) = 0;
  /// The port has ended (loaded or failed) and its line is closed.
  virtual void OnPortFinished(size_t port) = 0;
  /// Something the user should fix about the port, said once per runner
  /// (the adapter's latency timer).
  virtual void OnPortWarning(size_t /*port*/, const std::string& /*text*/) {}

 protected:
  ~PortRunnerListener() = default;
};

/// The loader's text for a port that went away during its run.
std::string LineLostText(const std::string& port);

/// Connects, programs the image, disconnects. Lives on the thread that runs
/// the event loop. Its line either is watched by that loop or posts from a
/// watcher thread of its own.
class PortRunner final : public ControllerHost,
                         public ComNotifyTarget,
                         public LineEventLoop,
                         public FrameObserver {
 public:
  /// @p image: the session's one snapshot of the image, shared by every
  /// port, taken before any port is opened.
  PortRunner(size_t index, std::string port, std::string imagePath, SnapshotImageFile::Bytes image,
             std::unique_ptr<PortLine> line, const RunClock& clock, PortRunnerListener& listener,
             EventLoop& loop);
  ~PortRunner() override;
  PortRunner(const PortRunner&) = delete;
  PortRunner& operator=(const PortRunner&) = delete;

  /// Only asks whether a module answers: once the probe window ends with its
  /// reply the line is closed again and nothing is sent. Call before Start.
  void SetProbeOnly() { m_probeOnly = true; }
  /// A connect window of @p window instead of the controller's second, for
  /// probes that must come often. Call before Start.
  void SetConnectWindow(std::chrono::milliseconds window) { m_connectWindow = window; }
  /// Opens the port and starts the connect probe.
  void Start();
  /// Closes the port at once; the port ends as interrupted.
  void Interrupt();
  bool Finished() const { return m_finished; }
  /// The probe window ended with the module's connect reply.
  bool Answered() const { return m_answered; }
  PortSummary Summary() const;

  // ControllerHost
  int GetPortChoice() override { return 1; }
  std::string GetPortName() override { return m_port; }
  void ShowConnected() override;
  void ShowDisconnected() override;
  void ShowStatus(const std::string& text) override;
  void ShowMessage(const std::string& text) override;
  void StartTimer(uint32_t id, uint32_t ms) override;
  void StopTimer(uint32_t id) override;
  void OpenProgress(uint32_t range) override;
  void SetProgress(uint32_t position) override;
  void CloseProgress() override {}
  ComNotifyTarget* NotificationTarget() override { return this; }

  // ComNotifyTarget: called on the watcher thread; hands the event to the loop.
  void PostComMessage(uint32_t message, uint32_t wParam, intptr_t lParam) override;

  // LineEventLoop
  int WatchLine(intptr_t handle, CSerialLoopLine& line) override;
  void UnwatchLine(intptr_t handle) override;

  // FrameObserver
  void OnFrameSent(const uint8_t* frame, size_t length) override;
  void OnFrameReceived(const uint8_t* frame, size_t length) override;

 private:
  void Report(PortEventKind kind, const std::string& message = {});
  void Refuse(const std::string& reason);
  void CheckAdapter();
  void HandleLineEvent(uint32_t wParam);
  void OnTimer(uint32_t id);
  std::string FailureReason() const;
  void Finish();

  size_t m_index;
  std::string m_port;
  std::string m_imagePath;
  const RunClock& m_clock;
  PortRunnerListener& m_listener;
  EventLoop& m_loop;
  std::unique_ptr<PortLine> m_line;
  SnapshotImageFile m_image;
  ProgrammingController m_controller;
  DeadlineTimers m_timers;
  LineTally m_tally;

  std::string m_status = text::kNotConnected;
  uint32_t m_position = 0;
  uint32_t m_total = 0;
  bool m_probeOnly = false;
  std::chrono::milliseconds m_connectWindow{0};  // 0: the controller's own
  bool m_answered = false;
  bool m_ending = false;  // loaded or failed: the controller's inputs stop here
  bool m_finished = false;
  bool m_loaded = false;
  bool m_interrupted = false;
  std::string m_failure;  // the controller's text
  int m_exitCode = 0;
  double m_endedAt = 0;
};

}  // namespace vexel::cli

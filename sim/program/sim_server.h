// The simulator program's event loop: one poll over the line, a timerfd for
// every delay and for line-rate pacing, and a signalfd for the stop signals.
// It feeds the loader's bytes to the module core and writes its replies.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "action_queue.h"
#include "event_report.h"
#include "image_sink.h"
#include "line_endpoint.h"
#include "line_pacing.h"
#include "sim/module_fixture.h"
#include "sim/module_simulator.h"

namespace vexel::sim {

/// Exit status of the program, also shown in its end event.
enum ExitStatus : int {
  kExitOk = 0,          ///< stopped by a signal or --count, no violations
  kExitViolations = 1,  ///< the loader broke the protocol (takes precedence over 3)
  kExitError = 2,       ///< bad options, setup failure, lost line or an image not written
  kExitHangUp = 3,      ///< a hangup fault ended the program
};

struct ServerConfig {
  uint32_t lineRate = 0;          ///< baud rate to pace the line at; 0 = no pacing
  size_t count = 0;               ///< stop after this many flashed images; 0 = never
  FixtureConfig fixture;          ///< the modules and their faults
  uint32_t adapterLatencyMs = 0;  ///< replies pass a USB adapter with this latency timer; 0 = none
};

class SimServer final : public SimObserver, public FixtureObserver {
 public:
  SimServer(LineEndpoint& line, EventReport& report, ImageSink& sink, const ServerConfig& config);
  SimServer(const SimServer&) = delete;
  SimServer& operator=(const SimServer&) = delete;
  ~SimServer();

  /// Blocks SIGINT, SIGTERM and SIGHUP into a signalfd and creates the timer. Call it
  /// before the line's path is published, so a stop request is never lost.
  bool Start(std::string& error);
  /// Serves the line until a signal, --count, a hang-up or a lost line;
  /// reports the end and returns the exit status.
  int Run();

  /// Monotonic clock in nanoseconds, the time base of every event.
  static int64_t Now();

 private:
  // SimObserver: the core's events, reported as they happen.
  void OnRequest(const char* name, const std::vector<uint8_t>& frame, int step) override;
  void OnReply(const std::vector<uint8_t>& bytes) override;
  void OnImageFlashed(const std::vector<uint8_t>& image) override;
  void OnViolation(const Violation& violation) override;
  // FixtureObserver: modules put on and taken off.
  void OnModuleAttached(size_t module) override;
  void OnModuleRemoved(size_t module, const char* reason) override;

  void WaitForEvents();
  void LineChange(std::optional<bool> change);
  void LineGone();
  void DrainTimer();
  void ReadLine();
  void Received(std::vector<uint8_t> bytes);
  void RunDue();
  void Execute(Action& action);
  void Consume(const std::vector<uint8_t>& bytes);
  void ScheduleAttach();
  void Transmit(Action& action);
  void Write(const std::vector<uint8_t>& bytes);
  void HoldInAdapter(const std::vector<uint8_t>& bytes);
  void ReleaseFromAdapter();
  void ScheduleRelease(std::optional<int64_t> atNs);
  void Send(const std::vector<uint8_t>& bytes);
  void FlushTx();
  void HangUpLine();
  void CheckCountReached();
  void ArmTimer();
  void End(EndReason reason);
  int ExitStatusNow() const;

  LineEndpoint& m_line;
  EventReport& m_report;
  ImageSink& m_sink;
  ServerConfig m_config;
  std::optional<ModuleFixture>
      m_fixture;  // made when Run starts, so its first module follows the ready event

  int m_timerFd = -1;
  int m_signalFd = -1;
  std::optional<LinePacing> m_pacing;       // with --line-rate
  std::optional<AdapterLatency> m_adapter;  // with --adapter-latency
  std::vector<uint8_t> m_held;              // replies waiting in the adapter
  std::optional<int64_t> m_releaseAt;       // the adapter's release scheduled last
  int64_t m_drainUntil = 0;                 // latest end once --count is reached
  int64_t m_lastWriteNs = 0;
  ActionQueue m_queue;
  int64_t m_dueNs = 0;                // due time of the action being run
  std::optional<int64_t> m_attachMs;  // the next module's attach, once scheduled
  std::vector<uint8_t> m_tx;          // bytes the line did not take yet
  size_t m_images = 0;
  bool m_writeFailed = false;
  bool m_ended = false;
  EndReason m_reason = EndReason::Signal;
};

}  // namespace vexel::sim

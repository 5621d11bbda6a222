// A production station: on every port, module after module. Each port
// probes quietly until a module answers, programs it, then probes until the
// module is gone before it takes the next one, so a module left on the
// fixture is never programmed twice in a row.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "audit/audit_log.h"
#include "output/station_output.h"
#include "port_list/port_list.h"
#include "runner/port_line.h"
#include "runner/port_runner.h"
#include "session/image_watch.h"
#include "session/session_core.h"
#include "session/station_records.h"

namespace vexel::cli {

/// The quickest swap (one module off, the next on) a station always sees
/// with the default probe period; quicker ones may be taken for the module
/// that was there, which is then not programmed.
constexpr std::chrono::milliseconds kQuickestSwapSeen{300};

struct StationSettings : SessionSettings {
  size_t count = 0;  ///< modules per port; 0 = until interrupted
  /// Probes start at most this often on a port: a module taken off and the
  /// next one put on within less than this may pass for the same module
  /// (see kQuickestSwapSeen).
  std::chrono::milliseconds probePeriod{200};
  /// A station probe's connect window: the CONNECT and its reply at 57600
  /// baud take 2 ms on the wire; a USB adapter may hold a short reply up to
  /// 16 ms; the rest is margin. The programming run itself keeps the
  /// controller's timings.
  std::chrono::milliseconds probeWindow{50};
  /// How often the image file on disk is compared with the snapshot's.
  std::chrono::milliseconds imageCheckPeriod{1000};
  /// The adapter behind a port, for the records: asked at the start and
  /// whenever a lost port is back (it may be another adapter then).
  std::function<SerialPortInfo(const std::string& port)> describePort =
      [](const std::string& port) { return DescribePort(port); };
  /// Put in front of the session's notices ("name: text"); the engine names
  /// no program of its own.
  std::string program;
};

class StationSession final : public PortRunnerListener {
 public:
  /// @p logSink: where audit records go; null for none. @p logPath names it
  /// in messages.
  StationSession(StationSettings settings, StationOutput& output,
                 std::unique_ptr<AuditSink> logSink = nullptr, std::string logPath = {},
                 PortLineFactory lineFactory = MakeSerialPortLine);
  ~StationSession();
  StationSession(const StationSession&) = delete;
  StationSession& operator=(const StationSession&) = delete;

  /// The one snapshot every module of the session is sent; taken by the
  /// caller before the session starts.
  void SetImage(SnapshotImageFile::Bytes image) { m_core.SetImage(std::move(image)); }
  /// Runs until Ctrl-C, --count on every port, every port stopped, or a
  /// log that cannot be written; returns the exit status. When the user's
  /// interrupts cannot be caught, opens nothing, records and prints nothing
  /// and returns kExitInvalidResponse (kInterruptsNotCaught says why).
  int Run();
  /// Run opened nothing: the user's interrupts could not be caught.
  bool Refused() const { return m_core.Refused(); }
  /// Closes every port; a module being programmed ends as interrupted.
  void Interrupt();

  const std::vector<StationCounts>& Counts() const { return m_counts; }

  void OnPortEvent(const PortEvent& event) override;
  void OnPortFrame(size_t port, bool sent, FrameName name, const uint8_t* frame,
                   size_t length) override;
  void OnPortFinished(size_t port) override;
  void OnPortWarning(size_t port, const std::string& text) override;

 private:
  enum class Phase {
    Waiting,      ///< no module: probing
    Programming,  ///< a module answered; it is being programmed
    Removing,     ///< done with the module: probing until it is gone
    Stopped,      ///< --count reached, or the port cannot go on
  };
  struct Port {
    Phase phase = Phase::Waiting;
    std::unique_ptr<PortRunner> runner;
    bool found = false;         // the runner's probe found a module
    bool heard = false;         // a frame came during the runner's probe, answer or not
    bool heardConnect = false;  // one of them was meant as a connect reply
    int strayProbes = 0;        // probes in a row that heard only frames of other commands
    bool opened = false;        // the port has been opened in this session
    bool lost = false;          // it went away: probing until it opens again
    bool warned = false;        // its adapter warning was shown: once a session, not per probe
    nlohmann::json adapter;     // driver, usb, serial as far as known; null when nothing is
    size_t module = 0;          // number of the latest module on this port
    EventLoop::Clock::time_point probedAt{};
    EventLoop::TimerId probeTimer = 0;
    double moduleStart = 0;  // when the module was found
    std::string failure;     // the module's failure text with its reason
  };

  void Start();
  void End();
  void StartProbe(size_t index);
  void ScheduleProbe(size_t index, bool atOnce);
  void Found(size_t index);
  void Settle(size_t index);
  void ModuleEnded(size_t index, const PortSummary& result);
  void NotProgrammed(size_t index);
  bool FollowLostLine(size_t index, int code, const PortSummary& result);
  void PortNotice(size_t index, const char* kind, const char* text, const std::string& outcome);
  void LookUpAdapter(size_t index);
  void StopPort(size_t index, const std::string& reason, int exitCode);
  void NoteFailure(int exitCode);
  void OnLogFailed(const std::string& error);
  void OnImageChanged(const FileStamp& now);
  void StopTakingModules();
  void QuitWhenIdle();
  void Notice(const char* kind, const std::string& text);
  void Audit(nlohmann::json record);

  StationSettings m_settings;
  StationOutput& m_output;
  std::string m_logPath;
  SessionCore m_core;  // its loop before the log and the runners, which post to it
  StationRecords m_records;
  ImageWatch m_imageWatch;
  std::unique_ptr<AuditLog> m_log;
  std::vector<Port> m_ports;
  std::vector<StationCounts> m_counts;
  int m_firstFailure = 0;
  bool m_stopping = false;  // no new module is taken
  bool m_interrupted = false;
  bool m_logFailed = false;
  const char* m_endReason = "count";
};

}  // namespace vexel::cli

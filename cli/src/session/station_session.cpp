#include "session/station_session.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>

#include "output/display_text.h"
#include "cli/exit_codes.h"
#include "runner/frame_trace.h"
#include "protocol/link_frame.h"
#include "protocol/sha256.h"
#include "output/run_views.h"
#include "program/version.h"

namespace vexel::cli {
namespace {

constexpr auto kTickPeriod = std::chrono::milliseconds(100);
// A module that answers a probe with something else is failed only when it
// does so twice in a row.
constexpr int kStrayProbesForAFailure = 2;
constexpr const char* kNotProgrammed = "not programmed: interrupted before INIT, nothing was sent";

std::string Now() { return UtcTimestamp(std::chrono::system_clock::now()); }

}  // namespace

StationSession::StationSession(StationSettings settings, StationOutput& output,
                               std::unique_ptr<AuditSink> logSink, std::string logPath,
                               PortLineFactory lineFactory)
    : m_settings(std::move(settings)),
      m_output(output),
      m_lineFactory(std::move(lineFactory)),
      m_logPath(std::move(logPath)),
      m_loop(EventLoop::Create()),
      m_ports(m_settings.ports.size()),
      m_counts(m_settings.ports.size()) {
  if (logSink) {
    // The writer thread only posts: the session stops on its own loop.
    m_log = std::make_unique<AuditLog>(std::move(logSink), m_logPath, [this](const std::string& error) {
      m_loop->Post([this, error] { OnLogFailed(error); });
    });
  }
}

StationSession::~StationSession() {
  // The runners' lines are closed before the loop they were watched by goes.
  m_ports.clear();
  m_log.reset();
}

void StationSession::SetImage(SnapshotImageFile::Bytes image) {
  m_image = std::move(image);
  m_sha256 = m_image ? Sha256Hex(m_image->data(), m_image->size()) : std::string();
}

int StationSession::Run() {
  if (m_settings.handleSignals) {
    m_loop->CatchInterrupts([this](int) { Interrupt(); });
  }
  m_startedAt = Now();
  m_session = m_startedAt + "/" + std::to_string(ProcessId());
  m_host = HostName();
  m_imageStamp = StampOfImage();
  StationInfo info;
  info.image = m_settings.image;
  info.size = m_image ? m_image->size() : 0;
  info.sha256 = m_sha256;
  info.log = m_logPath;
  info.count = m_settings.count;
  m_output.Started(info);
  nlohmann::json start = Record("session_start");
  start["time"] = m_startedAt;  // the session is named by its start time and process
  start["ports"] = m_settings.ports;
  start["count"] = m_settings.count;
  Audit(start);

  for (size_t i = 0; i < m_ports.size(); ++i) LookUpAdapter(i);
  for (size_t i = 0; i < m_ports.size(); ++i) StartProbe(i);
  m_tick = m_loop->StartTimer(EventLoop::Clock::now() + kTickPeriod, [this] { Tick(); });
  m_imageTimer = m_loop->StartTimer(EventLoop::Clock::now() + m_settings.imageCheckPeriod,
                                    [this] { CheckImage(); });
  QuitWhenIdle();
  m_loop->Run();
  m_loop->StopTimer(m_tick);
  m_loop->StopTimer(m_imageTimer);
  m_loop->ReleaseInterrupts();
  // An interrupt ends every runner at once; what they ended with is still to
  // be told and recorded.
  for (size_t i = 0; i < m_ports.size(); ++i) {
    m_loop->StopTimer(m_ports[i].probeTimer);
    Settle(i);
  }
  const char* why = m_interrupted ? "interrupted" : m_endReason;
  for (size_t i = 0; i < m_ports.size(); ++i) {
    if (m_ports[i].phase != Phase::Stopped) m_output.PortEnded(i, why, m_clock.Seconds());
  }

  StationCounts total;
  for (const auto& counts : m_counts) {
    total.modules += counts.modules;
    total.loaded += counts.loaded;
    total.failed += counts.failed;
  }
  nlohmann::json end = Record("session_end");
  end["reason"] = why;
  end["modules"] = total.modules;
  end["loaded"] = total.loaded;
  end["failed"] = total.failed;
  end["exit_code"] = m_firstFailure;
  end["seconds"] = RoundMs(m_clock.Seconds());
  Audit(end);
  if (m_log) {
    const std::vector<std::string> unwritten = m_log->Finish();
    if (!unwritten.empty()) {
      NoteFailure(kExitAuditLog);
      m_output.Unwritten(m_logPath, unwritten);
    }
  }
  m_output.Finish(m_counts, m_firstFailure, m_clock.Seconds());
  return m_firstFailure;
}

void StationSession::Interrupt() {
  if (m_interrupted) return;
  m_interrupted = true;
  m_stopping = true;
  for (auto& port : m_ports) {
    m_loop->StopTimer(port.probeTimer);
    if (port.runner) port.runner->Interrupt();
  }
  m_loop->Quit();
}

// A new line for every probe: each probe is a connection of its own, as the
// module sees it.
void StationSession::StartProbe(size_t index) {
  Port& port = m_ports[index];
  port.probeTimer = 0;
  if (m_stopping || port.phase == Phase::Stopped) return QuitWhenIdle();
  port.probedAt = EventLoop::Clock::now();
  port.found = false;
  port.heard = false;
  port.heardConnect = false;
  port.runner = std::make_unique<PortRunner>(index, m_settings.ports[index], m_settings.image,
                                             m_image, std::string(), m_lineFactory(), m_clock,
                                             *this, *m_loop);
  port.runner->SetConnectWindow(m_settings.probeWindow);
  if (port.phase == Phase::Removing) port.runner->SetProbeOnly();
  port.runner->Start();
}

// After a module's run the first probe goes at once: the operator may be
// swapping it already.
void StationSession::ScheduleProbe(size_t index, bool atOnce) {
  Port& port = m_ports[index];
  const auto now = EventLoop::Clock::now();
  const auto due = atOnce ? now : std::max(now, port.probedAt + m_settings.probePeriod);
  port.probeTimer = m_loop->StartTimer(due, [this, index] { StartProbe(index); });
}

// The module answered the probe: from here on its run is shown.
void StationSession::Found(size_t index) {
  Port& port = m_ports[index];
  if (port.found || port.phase != Phase::Waiting) return;
  port.found = true;
  port.strayProbes = 0;
  port.phase = Phase::Programming;
  port.module = m_counts[index].modules + 1;
  port.moduleStart = m_clock.Seconds();
  port.failure.clear();
  m_output.ModuleFound(index, port.module, port.moduleStart);
}

void StationSession::OnPortEvent(const PortEvent& event) {
  Port& port = m_ports.at(event.port);
  if (port.phase == Phase::Waiting && event.kind == PortEventKind::Connected) Found(event.port);
  if (event.kind == PortEventKind::Failed) port.failure = event.message;
  if (port.phase != Phase::Programming) return;  // probes are quiet
  if (event.kind == PortEventKind::Connecting) return;
  m_output.OnEvent(port.module, event);
}

void StationSession::OnPortFrame(size_t index, bool sent, const char* name, const uint8_t* frame,
                                 size_t length) {
  // A connect reply shows a module before the probe window is over.
  if (!sent) m_ports[index].heard = true;
  if (!sent && length > kOffCommand && frame[kOffCommand] == kCmdConnectReply) {
    m_ports[index].heardConnect = true;
  }
  if (!sent && m_ports[index].phase == Phase::Waiting && std::string(name) == "CONNECT-REPLY") {
    Found(index);
  }
  if (!m_settings.trace) return;
  m_output.Trace(FormatTraceLine(RunClock::MonotonicMicros(), m_settings.ports[index], sent, name,
                                 frame, length));
}

void StationSession::OnPortWarning(size_t index, const std::string& text) {
  Port& port = m_ports[index];
  if (port.warned) return;
  port.warned = true;
  m_output.PortWarning(index, text, m_clock.Seconds());
}

// Runners finish inside their own calls; they are let go from the loop.
void StationSession::OnPortFinished(size_t index) {
  m_loop->Post([this, index] { Settle(index); });
}

void StationSession::Settle(size_t index) {
  Port& port = m_ports[index];
  if (!port.runner || !port.runner->Finished()) return;
  const PortSummary result = port.runner->Summary();
  const bool answered = port.runner->Answered();
  port.runner.reset();
  const int code = result.exitCode;
  if (!port.heard) port.strayProbes = 0;
  const bool ran = port.phase == Phase::Programming;

  if (FollowLostLine(index, code, result)) {
    // Away, or just gone: the port is polled until it opens again.
  } else if (code == kExitPortOpen) {
    // Not a module's fault: the port itself cannot go on.
    StopPort(index, port.failure.empty() ? result.outcome : port.failure, code);
  } else if (port.phase == Phase::Programming) {
    ModuleEnded(index, result);
  } else if (port.phase == Phase::Waiting && code == kExitNoConnectReply && port.heard &&
             !port.heardConnect && ++port.strayProbes < kStrayProbesForAFailure) {
    // A frame that does not even mean to be a connect reply may be the
    // last reply of a session killed a moment ago, still on its way: the
    // module is asked again.
  } else if (port.phase == Phase::Waiting && code != kExitInterrupted &&
             (port.heard || (code != kExitOk && code != kExitNoConnectReply))) {
    // Something answered the probe, but not as a module should: a module
    // that failed before its run began. Taken for silence, it would sit on
    // the fixture as "waiting" for good.
    PortSummary failed = result;
    if (code == kExitNoConnectReply) {
      failed.outcome += ": the reply to the probe was not a connect reply";
    } else if (!port.failure.empty()) {
      failed.outcome = port.failure;
    }
    Found(index);
    port.failure = failed.outcome;
    ModuleEnded(index, failed);
  } else if (port.phase == Phase::Removing && code == kExitNoConnectReply && !answered &&
             !port.heard) {
    const size_t module = port.module;
    port.phase = Phase::Waiting;
    m_output.ModuleRemoved(index, module, m_clock.Seconds());
  }
  if (code != kExitPortOpen && code != kExitInterrupted) port.opened = true;
  if (port.phase != Phase::Stopped && !m_stopping) return ScheduleProbe(index, ran);
  QuitWhenIdle();
}

// A port that worked and then went away (adapter unplugged, driver stopped)
// is waited for under its name, not given up: its probes go on trying to
// open it, and the first that does is taken as any probe of its phase.
bool StationSession::FollowLostLine(size_t index, int code, const PortSummary& result) {
  Port& port = m_ports[index];
  if (port.lost) {
    if (code == kExitPortOpen || code == kExitLineLost || code == kExitInterrupted) return true;
    port.lost = false;
    LookUpAdapter(index);
    PortNotice(index, "port_back", " is back; the station goes on on it", std::string());
    return false;
  }
  if (code != kExitLineLost && !(code == kExitPortOpen && port.opened)) return false;
  // The module that was on it may still be there when it comes back.
  if (port.phase == Phase::Programming) ModuleEnded(index, result);
  if (port.phase == Phase::Stopped) return true;
  port.lost = true;
  PortNotice(index, "port_lost",
             " went away (adapter unplugged or driver stopped); waiting for it to come back "
             "under the same name",
             port.failure.empty() ? result.outcome : port.failure);
  return true;
}

// A record names the fixture as well as the port: what is known of the
// adapter, fields the system does not know left out.
void StationSession::LookUpAdapter(size_t index) {
  const SerialPortInfo info = m_settings.describePort(m_settings.ports[index]);
  nlohmann::json adapter = nlohmann::json::object();
  if (!info.driver.empty()) adapter["driver"] = info.driver;
  if (!info.usbId.empty()) adapter["usb"] = info.usbId;
  if (!info.serial.empty()) adapter["serial"] = info.serial;
  m_ports[index].adapter = adapter.empty() ? nlohmann::json() : adapter;
  m_output.PortAdapter(index, m_ports[index].adapter);
}

void StationSession::PortNotice(size_t index, const char* kind, const char* text,
                                const std::string& outcome) {
  const std::string& name = m_settings.ports[index];
  m_output.Notice(kind, std::string(kProgramName) + ": " + name + text, m_clock.Seconds());
  nlohmann::json record = PortRecord(kind, index);
  if (!outcome.empty()) record["outcome"] = outcome;
  Audit(record);
}

void StationSession::ModuleEnded(size_t index, const PortSummary& result) {
  Port& port = m_ports[index];
  if (result.exitCode == kExitInterrupted && !result.started) return NotProgrammed(index);
  StationCounts& counts = m_counts[index];
  ++counts.modules;
  if (result.loaded) {
    ++counts.loaded;
  } else {
    ++counts.failed;
    NoteFailure(result.exitCode);
  }
  counts.last = result.outcome;
  const std::string message = port.failure.empty() ? result.outcome : port.failure;

  nlohmann::json record = PortRecord("module", index);
  record["module"] = port.module;
  record["outcome"] = result.loaded ? result.outcome : message;
  record["exit_code"] = result.exitCode;
  record["exit_class"] = ExitClassName(result.exitCode);
  record["bytes"] = result.bytes;
  record["seconds"] = RoundMs(result.started ? result.seconds : m_clock.Seconds() - port.moduleStart);
  record["bytes_per_second"] = result.loaded ? std::round(BytesPerSecond(result)) : 0.0;
  Audit(record);

  m_output.ModuleEnded(index, port.module, result, counts, m_clock.Seconds());
  port.phase = Phase::Removing;
  if (m_settings.count > 0 && counts.modules >= m_settings.count) {
    StopPort(index, std::string(), kExitOk);
  }
}

// Interrupted after the module answered but before INIT: nothing was sent
// to it, so it is no failure, only a module left as it came.
void StationSession::NotProgrammed(size_t index) {
  Port& port = m_ports[index];
  nlohmann::json record = PortRecord("module", index);
  record["module"] = port.module;
  record["outcome"] = kNotProgrammed;
  record["exit_code"] = kExitInterrupted;
  record["exit_class"] = ExitClassName(kExitInterrupted);
  record["bytes"] = 0;
  record["seconds"] = 0.0;
  record["bytes_per_second"] = 0.0;
  Audit(record);
  port.phase = Phase::Removing;
}

void StationSession::StopPort(size_t index, const std::string& reason, int exitCode) {
  m_ports[index].phase = Phase::Stopped;
  if (exitCode != kExitOk) {
    NoteFailure(exitCode);
    nlohmann::json record = Record("port_stopped");
    record["port"] = m_settings.ports[index];
    record["outcome"] = reason;
    record["exit_code"] = exitCode;
    record["exit_class"] = ExitClassName(exitCode);
    Audit(record);
    m_endReason = "ports-stopped";
  }
  m_output.PortStopped(index, reason, m_clock.Seconds());
}

void StationSession::NoteFailure(int exitCode) {
  if (m_firstFailure == 0 && exitCode != kExitOk) m_firstFailure = exitCode;
}

// Records that cannot be kept must not pile up behind modules nobody can
// account for: the modules on the fixture now are finished, no new one is
// taken.
void StationSession::OnLogFailed(const std::string& error) {
  if (m_logFailed) return;
  m_logFailed = true;
  NoteFailure(kExitAuditLog);
  m_endReason = "log-failed";
  m_output.Notice("log_failed",
                  std::string(kProgramName) + ": " + error +
                      "; the session stops: modules being programmed are finished, no new "
                      "module is taken",
                  m_clock.Seconds());
  StopTakingModules();
}

void StationSession::StopTakingModules() {
  m_stopping = true;
  for (auto& port : m_ports) {
    m_loop->StopTimer(port.probeTimer);
    port.probeTimer = 0;
    // A probe is not a module: it is simply cut short.
    if (port.runner && port.phase != Phase::Programming) port.runner->Interrupt();
  }
  QuitWhenIdle();
}

void StationSession::QuitWhenIdle() {
  for (const auto& port : m_ports) {
    if (port.runner) return;
    if (!m_stopping && port.phase != Phase::Stopped) return;
  }
  m_loop->Quit();
}

// The session keeps sending the snapshot it started with; a file changed on
// disk is told once per change so that nobody believes it was picked up.
void StationSession::CheckImage() {
  const FileStamp stamp = StampOfImage();
  if (!(stamp == m_imageStamp)) {
    m_imageStamp = stamp;
    const std::string text =
        std::string(kProgramName) + ": " + m_settings.image +
        (stamp.exists ? " changed on disk" : " is gone from disk") +
        "; this session goes on sending the image it started with (SHA-256 " + m_sha256 +
        "); start a new session to send the file as it is now";
    m_output.Notice("image_changed", text, m_clock.Seconds());
    nlohmann::json record = Record("image_changed");
    record["exists"] = stamp.exists;
    record["size_now"] = stamp.exists ? nlohmann::json(stamp.size) : nlohmann::json(nullptr);
    Audit(record);
  }
  m_imageTimer = m_loop->StartTimer(EventLoop::Clock::now() + m_settings.imageCheckPeriod,
                                    [this] { CheckImage(); });
}

StationSession::FileStamp StationSession::StampOfImage() const {
  FileStamp stamp;
  std::error_code error;
  const std::filesystem::path path = std::filesystem::u8path(m_settings.image);
  stamp.size = std::filesystem::file_size(path, error);
  if (error) return FileStamp{};
  stamp.written = std::filesystem::last_write_time(path, error);
  if (error) return FileStamp{};
  stamp.exists = true;
  return stamp;
}

void StationSession::Tick() {
  m_output.Tick(m_clock.Seconds());
  m_tick = m_loop->StartTimer(EventLoop::Clock::now() + kTickPeriod, [this] { Tick(); });
}

void StationSession::Audit(nlohmann::json record) {
  if (m_log) m_log->Append(record);
}

// A record about one port names its adapter too, as far as it is known.
nlohmann::json StationSession::PortRecord(const char* kind, size_t index) const {
  nlohmann::json record = Record(kind);
  record["port"] = m_settings.ports[index];
  if (!m_ports[index].adapter.is_null()) record["adapter"] = m_ports[index].adapter;
  return record;
}

// What every record carries: when, where, and which image.
nlohmann::json StationSession::Record(const char* kind) const {
  return {{"record", kind},
          {"time", Now()},
          {"session", m_session},
          {"host", m_host},
          {"image", m_settings.image},
          {"size", m_image ? m_image->size() : 0},
          {"sha256", m_sha256}};
}

}  // namespace vexel::cli

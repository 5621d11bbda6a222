#include "session/station_session.h"

#include <algorithm>
#include <cmath>

#include "cli/exit_codes.h"
#include "output/run_views.h"
#include "protocol/link_frame.h"
#include "protocol/sha256.h"

namespace vexel::cli {
namespace {

// A module that answers a probe with something else is failed only when it
// does so twice in a row.
constexpr int kStrayProbesForAFailure = 2;
constexpr const char* kNotProgrammed = "not programmed: interrupted before INIT, nothing was sent";

}  // namespace

StationSession::StationSession(StationSettings settings, StationOutput& output,
                               std::unique_ptr<AuditSink> logSink, std::string logPath,
                               PortLineFactory lineFactory)
    : m_settings(std::move(settings)),
      m_output(output),
      m_logPath(std::move(logPath)),
      m_core(m_settings, std::move(lineFactory),
             {[this] { Interrupt(); }, [this](double seconds) { m_output.Tick(seconds); },
              [this](const std::string& line) { m_output.Trace(line); }}),
      m_imageWatch(m_core.Loop(), m_settings.image, m_settings.imageCheckPeriod,
                   [this](const FileStamp& now) { OnImageChanged(now); }),
      m_ports(m_settings.ports.size()),
      m_counts(m_settings.ports.size()) {
  if (logSink) {
    // The writer thread only posts: the session stops on its own loop.
    m_log = std::make_unique<AuditLog>(std::move(logSink), m_logPath,
                                       [this](const std::string& error) {
                                         m_core.Loop().Post([this, error] { OnLogFailed(error); });
                                       });
  }
}

StationSession::~StationSession() {
  // The runners' lines are closed before the loop they were watched by goes.
  m_ports.clear();
  m_log.reset();
}

int StationSession::Run() {
  if (!m_core.Begin()) return kExitInvalidResponse;
  Start();
  QuitWhenIdle();
  m_core.Loop().Run();
  m_core.End();
  m_imageWatch.Stop();
  End();
  m_output.Finish(m_counts, m_firstFailure, m_core.Seconds());
  return m_firstFailure;
}

void StationSession::Start() {
  const SnapshotImageFile::Bytes& image = m_core.Image();
  m_records.Begin(m_settings.image, image ? image->size() : 0,
                  image ? Sha256Hex(image->data(), image->size()) : std::string());
  StationInfo info;
  info.image = m_settings.image;
  info.size = image ? image->size() : 0;
  info.sha256 = m_records.Sha256();
  info.log = m_logPath;
  info.count = m_settings.count;
  m_output.Started(info);
  Audit(m_records.SessionStart(m_settings.ports, m_settings.count));
  m_imageWatch.Start();
  for (size_t i = 0; i < m_ports.size(); ++i) LookUpAdapter(i);
  for (size_t i = 0; i < m_ports.size(); ++i) StartProbe(i);
}

// An interrupt ends every runner at once; what they ended with is still to
// be told and recorded.
void StationSession::End() {
  for (size_t i = 0; i < m_ports.size(); ++i) {
    m_core.Loop().StopTimer(m_ports[i].probeTimer);
    Settle(i);
  }
  const char* why = m_interrupted ? "interrupted" : m_endReason;
  for (size_t i = 0; i < m_ports.size(); ++i) {
    if (m_ports[i].phase != Phase::Stopped) m_output.PortEnded(i, why, m_core.Seconds());
  }
  StationCounts total;
  for (const auto& counts : m_counts) {
    total.modules += counts.modules;
    total.loaded += counts.loaded;
    total.failed += counts.failed;
  }
  Audit(m_records.SessionEnd(why, total, m_firstFailure, RoundMs(m_core.Seconds())));
  if (!m_log) return;
  const std::vector<std::string> unwritten = m_log->Finish();
  if (unwritten.empty()) return;
  NoteFailure(kExitAuditLog);
  m_output.Unwritten(m_logPath, unwritten);
}

void StationSession::Interrupt() {
  if (m_interrupted) return;
  m_interrupted = true;
  m_stopping = true;
  for (auto& port : m_ports) {
    m_core.Loop().StopTimer(port.probeTimer);
    if (port.runner) port.runner->Interrupt();
  }
  m_core.Loop().Quit();
}

// A new line for every probe: each probe is a connection of its own, as the
// module sees it.
void StationSession::StartProbe(size_t index) {
  Port& port = m_ports[index];
  port.probeTimer = 0;
  if (m_stopping || port.phase == Phase::Stopped) return QuitWhenIdle();
  port.probedAt = m_core.Loop().Now();
  port.found = false;
  port.heard = false;
  port.heardConnect = false;
  port.runner = m_core.MakeRunner(index, *this);
  port.runner->SetConnectWindow(m_settings.probeWindow);
  if (port.phase == Phase::Removing) port.runner->SetProbeOnly();
  port.runner->Start();
}

// After a module's run the first probe goes at once: the operator may be
// swapping it already.
void StationSession::ScheduleProbe(size_t index, bool atOnce) {
  Port& port = m_ports[index];
  const auto now = m_core.Loop().Now();
  const auto due = atOnce ? now : std::max(now, port.probedAt + m_settings.probePeriod);
  port.probeTimer = m_core.Loop().StartTimer(due, [this, index] { StartProbe(index); });
}

// The module answered the probe: from here on its run is shown.
void StationSession::Found(size_t index) {
  Port& port = m_ports[index];
  if (port.found || port.phase != Phase::Waiting) return;
  port.found = true;
  port.strayProbes = 0;
  port.phase = Phase::Programming;
  port.module = m_counts[index].modules + 1;
  port.moduleStart = m_core.Seconds();
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

void StationSession::OnPortFrame(size_t index, bool sent, FrameName name, const uint8_t* frame,
                                 size_t length) {
  // A connect reply shows a module before the probe window is over.
  if (!sent) m_ports[index].heard = true;
  if (!sent && length > kOffCommand && frame[kOffCommand] == kCmdConnectReply) {
    m_ports[index].heardConnect = true;
  }
  if (!sent && m_ports[index].phase == Phase::Waiting && name == FrameName::ConnectReply) {
    Found(index);
  }
  m_core.TraceFrame(index, sent, name, frame, length);
}

void StationSession::OnPortWarning(size_t index, const std::string& text) {
  Port& port = m_ports[index];
  if (port.warned) return;
  port.warned = true;
  m_output.PortWarning(index, text, m_core.Seconds());
}

// Runners finish inside their own calls; they are let go from the loop.
void StationSession::OnPortFinished(size_t index) {
  m_core.Loop().Post([this, index] { Settle(index); });
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
    m_output.ModuleRemoved(index, module, m_core.Seconds());
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

void StationSession::LookUpAdapter(size_t index) {
  m_ports[index].adapter = AdapterRecord(m_settings.describePort(m_settings.ports[index]));
  m_output.PortAdapter(index, m_ports[index].adapter);
}

void StationSession::PortNotice(size_t index, const char* kind, const char* text,
                                const std::string& outcome) {
  const std::string& name = m_settings.ports[index];
  Notice(kind, name + text);
  nlohmann::json record = m_records.Port(kind, name, m_ports[index].adapter);
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
  ModuleFigures figures;
  figures.outcome = result.loaded || port.failure.empty() ? result.outcome : port.failure;
  figures.exitCode = result.exitCode;
  figures.bytes = result.bytes;
  figures.seconds = RoundMs(result.started ? result.seconds : m_core.Seconds() - port.moduleStart);
  figures.bytesPerSecond = result.loaded ? std::round(BytesPerSecond(result)) : 0.0;
  Audit(m_records.Module(m_settings.ports[index], port.adapter, port.module, figures));

  m_output.ModuleEnded(index, port.module, result, counts, m_core.Seconds());
  port.phase = Phase::Removing;
  if (m_settings.count > 0 && counts.modules >= m_settings.count) {
    StopPort(index, std::string(), kExitOk);
  }
}

// Interrupted after the module answered but before INIT: nothing was sent
// to it, so it is no failure, only a module left as it came.
void StationSession::NotProgrammed(size_t index) {
  Port& port = m_ports[index];
  ModuleFigures figures;
  figures.outcome = kNotProgrammed;
  figures.exitCode = kExitInterrupted;
  Audit(m_records.Module(m_settings.ports[index], port.adapter, port.module, figures));
  port.phase = Phase::Removing;
}

void StationSession::StopPort(size_t index, const std::string& reason, int exitCode) {
  m_ports[index].phase = Phase::Stopped;
  if (exitCode != kExitOk) {
    NoteFailure(exitCode);
    Audit(m_records.PortStopped(m_settings.ports[index], reason, exitCode));
    m_endReason = "ports-stopped";
  }
  m_output.PortStopped(index, reason, m_core.Seconds());
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
  Notice("log_failed", error +
                           "; the session stops: modules being programmed are finished, no new "
                           "module is taken");
  StopTakingModules();
}

// The session keeps sending the snapshot it started with; a file changed on
// disk is told once per change so that nobody believes it was picked up.
void StationSession::OnImageChanged(const FileStamp& now) {
  Notice("image_changed",
         m_settings.image + (now.exists ? " changed on disk" : " is gone from disk") +
             "; this session goes on sending the image it started with (SHA-256 " +
             m_records.Sha256() + "); start a new session to send the file as it is now");
  Audit(m_records.ImageChanged(now));
}

void StationSession::StopTakingModules() {
  m_stopping = true;
  for (auto& port : m_ports) {
    m_core.Loop().StopTimer(port.probeTimer);
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
  m_core.Loop().Quit();
}

void StationSession::Notice(const char* kind, const std::string& text) {
  m_output.Notice(kind, m_settings.program.empty() ? text : m_settings.program + ": " + text,
                  m_core.Seconds());
}

void StationSession::Audit(nlohmann::json record) {
  if (m_log) m_log->Append(record);
}

}  // namespace vexel::cli

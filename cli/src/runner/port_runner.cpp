#include "runner/port_runner.h"

#include "cli/exit_codes.h"
#include "runner/frame_trace.h"
#include "runner/open_diagnosis.h"

namespace vexel::cli {
namespace {

// Stray frames before a connect reply are few; the bound keeps a line that
// streams noise from holding the loop.
constexpr int kFramesReadAtWindowEnd = 8;

}  // namespace

std::string LineLostText(const std::string& port) {
  return "Connection lost: " + port + " went away (adapter unplugged or driver stopped)";
}

PortRunner::PortRunner(size_t index, std::string port, std::string imagePath,
                       SnapshotImageFile::Bytes image, std::unique_ptr<PortLine> line,
                       const RunClock& clock, PortRunnerListener& listener, EventLoop& loop)
    : m_index(index),
      m_port(std::move(port)),
      m_imagePath(std::move(imagePath)),
      m_clock(clock),
      m_listener(listener),
      m_loop(loop),
      m_line(std::move(line)),
      m_image(std::move(image)),
      m_controller(m_line->Line(), m_image, *this),
      m_timers(loop, [this](uint32_t id) { OnTimer(id); }) {
  m_controller.SetFrameObserver(this);
  m_line->AttachEventLoop(*this, loop);
}

PortRunner::~PortRunner() {
  // The watcher must be joined while this object can still take its posts.
  m_timers.StopAll();
  m_line->Line().Close();
}

void PortRunner::Start() {
  Report(PortEventKind::Connecting);
  if (const std::string refusal = m_line->Refusal(m_port); !refusal.empty()) return Refuse(refusal);
  m_controller.ToggleConnection();
  if (!m_ending) CheckAdapter();
}

// Asked once the port is open: the serial library has asked for low latency
// by then, so a timer still above 1 ms is one only the user can change.
void PortRunner::CheckAdapter() {
  const std::string warning = m_line->AdapterWarning(m_port);
  if (!warning.empty()) m_listener.OnPortWarning(m_index, warning);
}

// Not even opened: a port the controller must never see. It ends as a port
// that cannot be opened does.
void PortRunner::Refuse(const std::string& reason) {
  m_ending = true;
  m_failure = text::kCannotOpen;
  m_failure.replace(m_failure.find("%s"), 2, m_port);
  m_exitCode = kExitPortOpen;
  Report(PortEventKind::Failed, m_failure + ": " + reason);
  m_loop.Post([this] { Finish(); });
}

void PortRunner::Interrupt() {
  if (m_finished) return;
  if (m_ending) return Finish();  // loaded or failed already: that is its outcome
  m_ending = m_interrupted = true;
  m_exitCode = kExitInterrupted;
  Finish();
  Report(PortEventKind::Interrupted);
}

PortSummary PortRunner::Summary() const {
  PortSummary row;
  row.port = m_port;
  row.outcome = m_loaded ? text::kModuleLoaded : m_interrupted ? "interrupted" : m_failure;
  row.exitCode = m_exitCode;
  row.loaded = m_loaded;
  row.started = m_tally.Started();
  row.bytes = m_position;
  row.seconds = m_tally.Seconds(m_endedAt);
  row.lineBytes = m_tally.LineBytes();
  return row;
}

void PortRunner::ShowConnected() {
  m_status = text::kConnected;
  m_answered = true;
  Report(PortEventKind::Connected);
  if (m_probeOnly) {
    m_ending = true;
    m_loop.Post([this] {
      if (m_finished) return;
      m_controller.ToggleConnection();
      Finish();
    });
    return;
  }
  // Out of the controller's timer handler before the run starts.
  m_loop.Post([this] {
    if (!m_ending) m_controller.StartRun(m_imagePath);
  });
}

void PortRunner::ShowDisconnected() { m_status = text::kNotConnected; }

void PortRunner::ShowStatus(const std::string& text) {
  m_status = text;
  if (text != text::kModuleLoaded) return Report(PortEventKind::Status);
  m_loaded = m_ending = true;
  m_position = m_total;
  Report(PortEventKind::Loaded);
  m_loop.Post([this] {
    if (m_finished) return;
    m_controller.ToggleConnection();
    Finish();
  });
}

// The controller has already settled (timers stopped, port closed) and sends
// nothing more; the line is closed for good once its call has returned.
void PortRunner::ShowMessage(const std::string& text) {
  if (m_ending) return;
  m_ending = true;
  // The controller's text names no port; the loader's names the one that went.
  m_failure = m_controller.LastFailure() == Failure::LineLost ? LineLostText(m_port) : text;
  m_exitCode = ExitCodeFor(m_controller.LastFailure());
  const std::string reason = FailureReason();
  Report(PortEventKind::Failed, reason.empty() ? m_failure : m_failure + ": " + reason);
  m_loop.Post([this] { Finish(); });
}

std::string PortRunner::FailureReason() const {
  switch (m_controller.LastFailure()) {
    case Failure::PortOpen: {
      const int osError = m_line->LastOsError();
      const std::string device = m_line->DevicePath(m_port);
      if (osError != 0)
        return WithTraps(DescribeOpenFailure(device, osError), FindPortTraps(device));
      return m_line->DescribeResult(m_controller.LastPortResult());
    }
    case Failure::LineLost: return WithTraps({}, FindPortTraps(m_line->DevicePath(m_port)));
    case Failure::LineFormat:
      if (m_line->LastOsError() != 0) return m_line->DescribeOsError(m_line->LastOsError());
      return m_line->DescribeResult(m_controller.LastPortResult());
    default: return {};
  }
}

void PortRunner::StartTimer(uint32_t id, uint32_t ms) {
  if (id == TIMER_CONNECT && m_connectWindow.count() > 0) {
    ms = static_cast<uint32_t>(m_connectWindow.count());
  }
  m_timers.Start(id, ms);
}

// The loop runs due timers before it looks at the lines: after a stall a
// short window would close on a reply that is already there, and a module
// still on the fixture would pass for one taken off. What has come is read
// first.
void PortRunner::OnTimer(uint32_t id) {
  if (m_ending) return;
  if (id == TIMER_CONNECT && m_connectWindow.count() > 0) {
    for (int frames = 0; frames < kFramesReadAtWindowEnd; ++frames) {
      if (m_controller.State() != Probing || m_ending) break;
      m_controller.HandleLineEvent(kEventRxChar);
    }
    if (m_ending) return;
  }
  m_controller.HandleTimer(id);
}

void PortRunner::StopTimer(uint32_t id) { m_timers.Stop(id); }

void PortRunner::OpenProgress(uint32_t range) {
  m_total = range;
  m_position = 0;
  Report(PortEventKind::Started);
}

void PortRunner::SetProgress(uint32_t position) {
  m_position = position;
  Report(PortEventKind::Progress);
}

void PortRunner::PostComMessage(uint32_t, uint32_t wParam, intptr_t) {
  m_loop.Post([this, wParam] { HandleLineEvent(wParam); });
}

int PortRunner::WatchLine(intptr_t handle, CSerialLoopLine& line) {
  return m_loop.Watch(handle, [this, &line] { HandleLineEvent(line.Service()); });
}

void PortRunner::UnwatchLine(intptr_t handle) { m_loop.Unwatch(handle); }

void PortRunner::OnFrameSent(const uint8_t* frame, size_t length) {
  // SendChunk reads the chunk before it writes: at the end of the image the
  // position has reached the length.
  const bool last = m_image.IsOpen() && m_image.GetPosition() == m_image.GetLength();
  const FrameName name = RequestName(frame, length, last);
  m_tally.OnSent(name, length, m_clock.Seconds());
  m_listener.OnPortFrame(m_index, true, name, frame, length);
}

void PortRunner::OnFrameReceived(const uint8_t* frame, size_t length) {
  const FrameName name = ReplyName(frame, length);
  m_tally.OnReceived(name, length, m_clock.Seconds());
  m_listener.OnPortFrame(m_index, false, name, frame, length);
}

void PortRunner::HandleLineEvent(uint32_t wParam) {
  if (wParam == 0 || m_ending) return;
  m_controller.HandleLineEvent(wParam & 0xFFFF);
}

void PortRunner::Report(PortEventKind kind, const std::string& message) {
  PortEvent event;
  event.port = m_index;
  event.kind = kind;
  event.position = m_position;
  event.total = m_total;
  event.status = m_status;
  event.message = message;
  event.elapsed = m_clock.Seconds();
  m_listener.OnPortEvent(event);
}

void PortRunner::Finish() {
  if (m_finished) return;
  m_finished = true;
  m_endedAt = m_clock.Seconds();
  m_timers.StopAll();
  m_line->Line().Close();
  m_listener.OnPortFinished(m_index);
}

}  // namespace vexel::cli

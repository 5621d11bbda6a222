#include "cli/port_runner.h"

#include <QCoreApplication>
#include <QEvent>
#include <cstring>

#include "cli/exit_codes.h"
#include "cli/frame_trace.h"
#include "cli/open_diagnosis.h"

namespace vexel::cli {
namespace {

// A watcher notification, carried from the watcher thread to the runner's.
class LineEvent final : public QEvent {
 public:
  explicit LineEvent(uint32_t wParam) : QEvent(Type()), m_wParam(wParam) {}
  static QEvent::Type Type() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
  }
  uint32_t WParam() const { return m_wParam; }

 private:
  uint32_t m_wParam;
};

}  // namespace

PortRunner::PortRunner(size_t index, std::string port, std::string imagePath,
                       std::unique_ptr<PortLine> line, const RunClock& clock,
                       PortRunnerListener& listener, LineWatchSet& watchSet)
    : m_index(index),
      m_port(std::move(port)),
      m_imagePath(std::move(imagePath)),
      m_clock(clock),
      m_listener(listener),
      m_watchSet(watchSet),
      m_line(std::move(line)),
      m_controller(m_line->Line(), m_image, *this),
      m_timers([this](uint32_t id) { if (!m_ending) m_controller.HandleTimer(id); }) {
  m_controller.SetFrameObserver(this);
  m_line->AttachEventLoop(*this);
}

PortRunner::~PortRunner() {
  // The watcher must be joined while this object can still take its posts.
  m_timers.StopAll();
  m_line->Line().Close();
}

void PortRunner::Start() {
  Report(PortEventKind::Connecting);
  m_controller.ToggleConnection();
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
  Report(PortEventKind::Connected);
  // Out of the controller's timer handler before the run starts.
  QMetaObject::invokeMethod(
      this, [this] { if (!m_ending) m_controller.StartRun(m_imagePath); }, Qt::QueuedConnection);
}

void PortRunner::ShowDisconnected() { m_status = text::kNotConnected; }

void PortRunner::ShowStatus(const std::string& text) {
  m_status = text;
  if (text != text::kModuleLoaded) return Report(PortEventKind::Status);
  m_loaded = m_ending = true;
  m_position = m_total;
  Report(PortEventKind::Loaded);
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (m_finished) return;
        m_controller.ToggleConnection();
        Finish();
      },
      Qt::QueuedConnection);
}

// The controller has already settled (timers stopped, port closed) and sends
// nothing more; the line is closed for good once its call has returned.
void PortRunner::ShowMessage(const std::string& text) {
  if (m_ending) return;
  m_ending = true;
  m_failure = text;
  m_exitCode = ExitCodeFor(m_controller.LastFailure());
  const std::string reason = FailureReason();
  Report(PortEventKind::Failed, reason.empty() ? text : text + ": " + reason);
  QMetaObject::invokeMethod(this, [this] { Finish(); }, Qt::QueuedConnection);
}

std::string PortRunner::FailureReason() const {
  switch (m_controller.LastFailure()) {
    case Failure::PortOpen: {
      const int osError = m_line->LastOsError();
      if (osError != 0) return DescribeOpenFailure(m_line->DevicePath(m_port), osError);
      return m_line->DescribeResult(m_controller.LastPortResult());
    }
    case Failure::LineFormat:
      if (m_line->LastOsError() != 0) return std::strerror(m_line->LastOsError());
      return m_line->DescribeResult(m_controller.LastPortResult());
    case Failure::ImageFile:
      return m_image.LastError();
    default:
      return {};
  }
}

void PortRunner::StartTimer(uint32_t id, uint32_t ms) { m_timers.Start(id, ms); }

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
  QCoreApplication::postEvent(this, new LineEvent(wParam));
}

int PortRunner::WatchLine(intptr_t handle, CSerialLoopLine& line) {
  return m_watchSet.Add(handle, [this, &line] { HandleLineEvent(line.Service()); });
}

void PortRunner::UnwatchLine(intptr_t handle) { m_watchSet.Remove(handle); }

void PortRunner::OnFrameSent(const uint8_t* frame, size_t length) {
  // SendChunk reads the chunk before it writes: at the end of the image the
  // position has reached the length.
  const bool last = m_image.IsOpen() && m_image.GetPosition() == m_image.GetLength();
  const char* name = RequestName(frame, length, last);
  m_tally.OnSent(name, length, m_clock.Seconds());
  m_listener.OnPortFrame(m_index, true, name, frame, length);
}

void PortRunner::OnFrameReceived(const uint8_t* frame, size_t length) {
  const char* name = ReplyName(frame, length);
  m_tally.OnReceived(name, length, m_clock.Seconds());
  m_listener.OnPortFrame(m_index, false, name, frame, length);
}

void PortRunner::customEvent(QEvent* event) {
  if (event->type() == LineEvent::Type()) HandleLineEvent(static_cast<LineEvent*>(event)->WParam());
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

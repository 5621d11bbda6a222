#include "session/load_session.h"

#include "cli/exit_codes.h"
#include "runner/frame_trace.h"

namespace vexel::cli {
namespace {

constexpr auto kTickPeriod = std::chrono::milliseconds(100);

}  // namespace

LoadSession::LoadSession(SessionSettings settings, RunOutput& output,
                         PortLineFactory lineFactory)
    : m_settings(std::move(settings)),
      m_output(output),
      m_lineFactory(std::move(lineFactory)),
      m_loop(EventLoop::Create()) {}

LoadSession::~LoadSession() = default;

int LoadSession::Run() {
  if (m_settings.handleSignals) m_loop->CatchInterrupts([this](int) { Interrupt(); });
  if (!m_image) TakeSnapshot();
  for (size_t i = 0; i < m_settings.ports.size(); ++i) {
    m_runners.push_back(std::make_unique<PortRunner>(
        i, m_settings.ports[i], m_settings.image, m_image, m_imageError,
        m_lineFactory(), m_clock, *this, *m_loop));
  }
  for (auto& runner : m_runners) runner->Start();
  m_tick = m_loop->StartTimer(EventLoop::Clock::now() + kTickPeriod, [this] { Tick(); });
  if (!AllFinished() && !m_interrupted) m_loop->Run();
  m_loop->StopTimer(m_tick);
  m_loop->ReleaseInterrupts();

  std::vector<int> codes;
  for (auto& runner : m_runners) {
    m_results.push_back(runner->Summary());
    codes.push_back(m_results.back().exitCode);
  }
  m_runners.clear();  // their lines are closed already: each closed when its port ended
  const int code = CombinedExitCode(codes, m_interrupted);
  m_output.Tick(m_clock.Seconds());
  m_output.Finish(m_results, code);
  return code;
}

// Every port sends this one version of the file, held once however many
// ports there are. When it cannot be taken, each port fails on it.
void LoadSession::TakeSnapshot() {
  SnapshotImageFile file;
  if (file.Open(m_settings.image)) {
    m_image = file.Snapshot();
  } else {
    m_imageError = file.LastError();
  }
}

void LoadSession::Interrupt() {
  if (m_interrupted) return;
  m_interrupted = true;
  for (auto& runner : m_runners) runner->Interrupt();
  m_loop->Quit();
}

void LoadSession::Tick() {
  m_output.Tick(m_clock.Seconds());
  m_tick = m_loop->StartTimer(EventLoop::Clock::now() + kTickPeriod, [this] { Tick(); });
}

void LoadSession::OnPortEvent(const PortEvent& event) { m_output.OnEvent(event); }

void LoadSession::OnPortFrame(size_t port, bool sent, const char* name, const uint8_t* frame,
                              size_t length) {
  if (!m_settings.trace) return;
  m_output.Trace(FormatTraceLine(RunClock::MonotonicMicros(), m_settings.ports[port], sent, name,
                                 frame, length));
}

void LoadSession::OnPortWarning(size_t port, const std::string& text) {
  m_output.Warn(port, text);
}

void LoadSession::OnPortFinished(size_t) {
  if (AllFinished()) m_loop->Quit();
}

bool LoadSession::AllFinished() const {
  for (const auto& runner : m_runners) {
    if (!runner->Finished()) return false;
  }
  return true;
}

}  // namespace vexel::cli

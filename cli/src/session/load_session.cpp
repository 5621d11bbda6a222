#include "session/load_session.h"

#include "cli/exit_codes.h"

namespace vexel::cli {

LoadSession::LoadSession(SessionSettings settings, RunOutput& output, PortLineFactory lineFactory)
    : m_settings(std::move(settings)),
      m_output(output),
      m_core(m_settings, std::move(lineFactory),
             {[this] { Interrupt(); }, [this](double seconds) { m_output.Tick(seconds); },
              [this](const std::string& line) { m_output.Trace(line); }}) {}

LoadSession::~LoadSession() = default;

int LoadSession::Run() {
  if (!m_core.Begin()) return kExitInvalidResponse;
  for (size_t i = 0; i < m_settings.ports.size(); ++i) {
    m_runners.push_back(m_core.MakeRunner(i, *this));
  }
  for (auto& runner : m_runners) runner->Start();
  if (!AllFinished() && !m_interrupted) m_core.Loop().Run();
  m_core.End();

  std::vector<int> codes;
  for (auto& runner : m_runners) {
    m_results.push_back(runner->Summary());
    codes.push_back(m_results.back().exitCode);
  }
  m_runners.clear();  // their lines are closed already: each closed when its port ended
  const int code = CombinedExitCode(codes, m_interrupted);
  m_output.Tick(m_core.Seconds());
  m_output.Finish(m_results, code);
  return code;
}

void LoadSession::Interrupt() {
  if (m_interrupted) return;
  m_interrupted = true;
  for (auto& runner : m_runners) runner->Interrupt();
  m_core.Loop().Quit();
}

void LoadSession::OnPortEvent(const PortEvent& event) { m_output.OnEvent(event); }

void LoadSession::OnPortFrame(size_t port, bool sent, FrameName name, const uint8_t* frame,
                              size_t length) {
  m_core.TraceFrame(port, sent, name, frame, length);
}

void LoadSession::OnPortWarning(size_t port, const std::string& text) { m_output.Warn(port, text); }

void LoadSession::OnPortFinished(size_t) {
  if (AllFinished()) m_core.Loop().Quit();
}

bool LoadSession::AllFinished() const {
  for (const auto& runner : m_runners) {
    if (!runner->Finished()) return false;
  }
  return true;
}

}  // namespace vexel::cli

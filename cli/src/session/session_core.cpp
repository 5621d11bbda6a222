#include "session/session_core.h"

#include "runner/frame_trace.h"

namespace vexel::cli {
namespace {

constexpr auto kTickPeriod = std::chrono::milliseconds(100);

}  // namespace

SessionCore::SessionCore(const SessionSettings& settings, PortLineFactory lineFactory, Hooks hooks)
    : m_settings(settings),
      m_lineFactory(std::move(lineFactory)),
      m_hooks(std::move(hooks)),
      m_loop(settings.makeLoop()),
      m_clock(*m_loop) {}

SessionCore::~SessionCore() { End(); }

bool SessionCore::Begin() {
  if (m_settings.handleSignals &&
      !m_loop->CatchInterrupts([this](int) { m_hooks.onInterrupt(); })) {
    m_loop->ReleaseInterrupts();  // what was installed before the failure
    m_refused = true;
    return false;
  }
  m_tick = m_loop->StartTimer(m_loop->Now() + kTickPeriod, [this] { Tick(); });
  return true;
}

void SessionCore::End() {
  m_loop->StopTimer(m_tick);
  m_tick = 0;
  m_loop->ReleaseInterrupts();
}

void SessionCore::Tick() {
  m_hooks.onTick(Seconds());
  m_tick = m_loop->StartTimer(m_loop->Now() + kTickPeriod, [this] { Tick(); });
}

std::unique_ptr<PortRunner> SessionCore::MakeRunner(size_t index, PortRunnerListener& listener) {
  return std::make_unique<PortRunner>(index, m_settings.ports[index], m_settings.image, m_image,
                                      m_lineFactory(), m_clock, listener, *m_loop);
}

void SessionCore::TraceFrame(size_t index, bool sent, FrameName name, const uint8_t* frame,
                             size_t length) {
  if (!m_settings.trace) return;
  m_hooks.onTrace(FormatTraceLine(RunClock::MonotonicMicros(), m_settings.ports[index], sent, name,
                                  frame, length));
}

}  // namespace vexel::cli

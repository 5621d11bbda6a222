// A bar per port, redrawn in place (LiveBlock). Anything else printed on the
// same terminal (a failure, a trace line) first erases the bars, so that it
// stays on screen above them.
#include <algorithm>
#include <ostream>

#include "output/display_text.h"
#include "output/run_views.h"

namespace vexel::cli {
namespace {

constexpr double kRedrawPeriod = 0.1;  // at most ten redraws a second
constexpr size_t kBarWidth = 24;

// The word at the end of a bar for each kind of the latest event; nullptr
// shows the controller's status text.
struct BarWord {
  PortEventKind kind;
  const char* word;
};

constexpr BarWord kBarWords[] = {
    {PortEventKind::Connecting, "CONNECTING"},  {PortEventKind::Loaded, "MODULE LOADED"},
    {PortEventKind::Failed, "FAILED"},          {PortEventKind::Interrupted, "INTERRUPTED"},
};

std::string WordFor(const PortView& view) {
  for (const auto& entry : kBarWords) {
    if (entry.kind == view.kind) return entry.word;
  }
  return DisplayText(view.status);
}

class BarsOutput final : public TrackingOutput {
 public:
  BarsOutput(const OutputSettings& settings, std::ostream& out, std::ostream& err)
      : TrackingOutput(settings, out, err),
        m_block(out, settings.width),
        m_errOnTerminal(settings.errOnTerminal) {
    for (const auto& view : m_views) m_nameWidth = std::max(m_nameWidth, view.shown.size());
  }

  void OnEvent(const PortEvent& event) override {
    Track(event);
    if (event.kind == PortEventKind::Failed) {
      Erase();
      PrintFailure(event);
    }
    if (event.kind == PortEventKind::Progress && m_now - m_drawnAt < kRedrawPeriod) {
      m_dirty = true;
      return;
    }
    Draw();
  }

  void Tick(double elapsed) override {
    m_now = std::max(m_now, elapsed);
    if (m_dirty && m_now - m_drawnAt >= kRedrawPeriod) Draw();
  }

  void Trace(const std::string& line) override {
    if (m_errOnTerminal) Erase();
    m_err << line + '\n' << std::flush;  // one write per line
    m_dirty = true;
  }

  void Warn(size_t port, const std::string& text) override {
    if (m_errOnTerminal) Erase();
    TrackingOutput::Warn(port, text);
    m_dirty = true;
  }

  void Finish(const std::vector<PortSummary>& rows, int exitCode) override {
    Draw();
    m_out << '\n' << FormatSummary(rows, exitCode) << std::flush;
  }

 private:
  std::string BarLine(const PortView& view) const {
    const size_t filled = kBarWidth * static_cast<size_t>(Percent(view)) / 100;
    std::string line = view.shown + std::string(m_nameWidth - view.shown.size(), ' ') + "  [" +
                       std::string(filled, '#') + std::string(kBarWidth - filled, '-') + "] ";
    line += view.runStart >= 0 ? ProgressText(view, m_now, "  ") : std::string("  0%");
    return line + "  " + WordFor(view);
  }

  void Draw() {
    std::vector<std::string> lines;
    for (const auto& view : m_views) lines.push_back(BarLine(view));
    m_block.Draw(std::move(lines));
    m_drawnAt = m_now;
    m_dirty = false;
  }

  void Erase() { m_block.Erase(); }

  LiveBlock m_block;
  bool m_errOnTerminal;
  size_t m_nameWidth = 0;
  double m_drawnAt = -1;
  bool m_dirty = false;
};

}  // namespace

std::unique_ptr<RunOutput> MakeBarsOutput(const OutputSettings& settings, std::ostream& out,
                                          std::ostream& err) {
  return std::make_unique<BarsOutput>(settings, out, err);
}

}  // namespace vexel::cli

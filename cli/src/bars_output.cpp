// A bar per port, redrawn in place: the cursor goes back up over the bars
// and each line is cleared and written again. Anything else printed on the
// same terminal (a failure, a trace line) first erases the bars, so that it
// stays on screen above them.
#include <algorithm>
#include <ostream>

#include "cli/display_text.h"
#include "cli/output_channel.h"
#include "run_views.h"

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
        m_width(static_cast<size_t>(std::max(settings.width, 20))),
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
    line += "  " + WordFor(view);
    // A wrapped line would throw off the cursor movement of the next redraw.
    if (line.size() >= m_width) line.resize(m_width - 1);
    return line;
  }

  // A redraw over bars already on screen may give way to a later one when
  // the terminal is slow: each shows the whole state.
  void Draw() {
    std::string text;
    if (m_drawn > 0) text += "\x1b[" + std::to_string(m_drawn) + "A";
    if (m_drawn == m_views.size()) MarkProgress(m_out);
    for (const auto& view : m_views) text += "\r\x1b[2K" + BarLine(view) + "\n";
    m_out << text << std::flush;
    m_drawn = m_views.size();
    m_drawnAt = m_now;
    m_dirty = false;
  }

  void Erase() {
    if (m_drawn == 0) return;
    m_out << "\x1b[" << m_drawn << "A\r\x1b[J" << std::flush;
    m_drawn = 0;
  }

  size_t m_width;
  bool m_errOnTerminal;
  size_t m_nameWidth = 0;
  size_t m_drawn = 0;  // bar lines on screen above the cursor
  double m_drawnAt = -1;
  bool m_dirty = false;
};

}  // namespace

std::unique_ptr<RunOutput> MakeBarsOutput(const OutputSettings& settings, std::ostream& out,
                                          std::ostream& err) {
  return std::make_unique<BarsOutput>(settings, out, err);
}

}  // namespace vexel::cli

// The live view on a terminal: a line per port redrawn in place, with a
// load's bars or a station's counts and state. Anything else printed on
// the same terminal (a failure, a trace line) first erases the lines, so
// that it stays on screen above them.
#include <algorithm>
#include <cstdio>
#include <limits>
#include <ostream>

#include "console/output_channel.h"
#include "output/display_text.h"
#include "output/run_views.h"

namespace vexel::cli {
namespace {

constexpr double kRedrawPeriod = 0.1;  // at most ten redraws a second
constexpr size_t kBarWidth = 24;

// Lines kept at the bottom of a terminal and redrawn in place: the cursor
// goes back up over them and each is cleared and written again. Each is
// cut to fit one row, as a wrapped line would throw off the cursor
// movement of the next redraw. Progress alone redraws at most every
// kRedrawPeriod; a redraw may give way to a later one, as each shows the
// whole state.
class LiveBlock {
 public:
  LiveBlock(const OutputSettings& settings, std::ostream& out, size_t nameWidth)
      : m_out(out),
        m_width(static_cast<size_t>(std::max(settings.width, 20))),
        m_nameWidth(nameWidth),
        m_errOnTerminal(settings.errOnTerminal) {}

  // @p name and spaces up to the widest name, so that the columns line up.
  std::string Padded(const std::string& name) const {
    return name + std::string(m_nameWidth - name.size(), ' ');
  }

  // True when a redraw for progress at @p now is too soon: it is left to
  // a later one.
  bool Postpone(double now) {
    if (now - m_drawnAt >= kRedrawPeriod) return false;
    m_dirty = true;
    return true;
  }

  // A postponed redraw is due, or none came for @p atMost.
  bool Due(double now, double atMost = std::numeric_limits<double>::infinity()) const {
    return (m_dirty && now - m_drawnAt >= kRedrawPeriod) || now - m_drawnAt >= atMost;
  }

  void Draw(std::vector<std::string> lines, double now) {
    std::string text;
    if (m_drawn > 0) {
      text += "\x1b[" + std::to_string(m_drawn) + "A";
      MarkProgress(m_out);
    }
    for (auto& line : lines) {
      if (line.size() >= m_width) line.resize(m_width - 1);
      text += "\r\x1b[2K" + line + "\n";
    }
    m_out << text << std::flush;
    m_drawn = lines.size();
    m_drawnAt = now;
    m_dirty = false;
  }

  void Erase() {
    if (m_drawn == 0) return;
    m_out << "\x1b[" << m_drawn << "A\r\x1b[J" << std::flush;
    m_drawn = 0;
  }

  // Before a line on the error stream that is not followed by a redraw of
  // its own (a trace or a warning): erased when it shares the terminal,
  // and drawn again at the next tick.
  void MakeRoomOnErr() {
    if (m_errOnTerminal) Erase();
    m_dirty = true;
  }

 private:
  std::ostream& m_out;
  size_t m_width;
  size_t m_nameWidth;
  bool m_errOnTerminal;
  size_t m_drawn = 0;  // lines on screen above the cursor
  double m_drawnAt = -1;
  bool m_dirty = false;
};

size_t WidestName(const std::vector<PortView>& views, size_t atLeast = 0) {
  for (const auto& view : views) atLeast = std::max(atLeast, view.shown.size());
  return atLeast;
}

// The word at the end of a bar for each kind of the latest event; the
// others show the controller's status text.
constexpr EventWord kBarWords[] = {
    {PortEventKind::Connecting, "CONNECTING"},
    {PortEventKind::Loaded, "MODULE LOADED"},
    {PortEventKind::Failed, "FAILED"},
    {PortEventKind::Interrupted, "INTERRUPTED"},
};

std::string WordFor(const PortView& view) {
  const char* word = WordOf(kBarWords, view.kind, nullptr);
  return word != nullptr ? word : DisplayText(view.status);
}

// A load: a bar per port.
class BarsOutput final : public TrackingOutput {
 public:
  BarsOutput(const OutputSettings& settings, std::ostream& out, std::ostream& err)
      : TrackingOutput(settings, out, err), m_block(settings, out, WidestName(m_views)) {}

  void OnEvent(const PortEvent& event) override {
    Track(event);
    if (event.kind == PortEventKind::Failed) {
      m_block.Erase();
      PrintFailure(event);
    }
    if (event.kind == PortEventKind::Progress && m_block.Postpone(m_now)) return;
    Draw();
  }

  void Tick(double elapsed) override {
    Now(elapsed);
    if (m_block.Due(m_now)) Draw();
  }

  void Trace(const std::string& line) override {
    m_block.MakeRoomOnErr();
    PrintTrace(line);
  }

  void Warn(size_t port, const std::string& text) override {
    m_block.MakeRoomOnErr();
    TrackingOutput::Warn(port, text);
  }

  void Finish(const std::vector<PortSummary>& rows, int exitCode) override {
    Draw();
    m_out << '\n' << FormatSummary(rows, exitCode) << std::flush;
  }

 private:
  std::string BarLine(const PortView& view) const {
    const size_t filled = kBarWidth * static_cast<size_t>(Percent(view)) / 100;
    std::string line = m_block.Padded(view.shown) + "  [" + std::string(filled, '#') +
                       std::string(kBarWidth - filled, '-') + "] ";
    line += view.runStart >= 0 ? ProgressText(view, m_now, "  ") : std::string("  0%");
    return line + "  " + WordFor(view);
  }

  void Draw() {
    std::vector<std::string> lines;
    for (const auto& view : m_views) lines.push_back(BarLine(view));
    m_block.Draw(std::move(lines), m_now);
  }

  LiveBlock m_block;
};

// A station: a line per port with its counts and state, and a total line.
class LiveStation final : public TrackingStation {
 public:
  LiveStation(const OutputSettings& settings, std::ostream& out, std::ostream& err)
      : TrackingStation(settings, out, err),
        m_block(settings, out, WidestName(m_views, std::string("total").size())) {}

  void Started(const StationInfo& info) override {
    TrackingStation::Started(info);
    m_out << ImageLine() << std::flush;
    Draw();
  }
  void ModuleFound(size_t port, size_t module, double elapsed) override {
    TrackingStation::ModuleFound(port, module, elapsed);
    Draw();
  }
  void OnEvent(size_t module, const PortEvent& event) override {
    TrackingStation::OnEvent(module, event);
    if (event.kind == PortEventKind::Progress && m_block.Postpone(m_now)) return;
    Draw();
  }
  void ModuleEnded(size_t port, size_t module, const PortSummary& result,
                   const StationCounts& counts, double elapsed) override {
    TrackingStation::ModuleEnded(port, module, result, counts, elapsed);
    if (!result.loaded) {
      m_block.Erase();
      PrintFailure(port, module, m_stations.at(port).failure);
    }
    Draw();
  }
  void ModuleRemoved(size_t port, size_t module, double elapsed) override {
    TrackingStation::ModuleRemoved(port, module, elapsed);
    Draw();
  }
  void PortStopped(size_t port, const std::string& reason, double elapsed) override {
    TrackingStation::PortStopped(port, reason, elapsed);
    if (!reason.empty()) {
      m_block.Erase();
      PrintStopped(port, reason);
    }
    Draw();
  }
  void Notice(const char*, const std::string& text, double elapsed) override {
    Now(elapsed);
    m_block.Erase();
    PrintNotice(text);
    Draw();
  }
  void Unwritten(const std::string& log, const std::vector<std::string>& lines) override {
    if (!lines.empty()) m_block.Erase();
    TrackingStation::Unwritten(log, lines);
  }
  // The clock on the total line moves once a second even when nothing else does.
  void Tick(double elapsed) override {
    Now(elapsed);
    if (m_block.Due(m_now, 1.0)) Draw();
  }
  void Trace(const std::string& line) override {
    m_block.MakeRoomOnErr();
    PrintTrace(line);
  }
  void Finish(const std::vector<StationCounts>& counts, int exitCode, double elapsed) override {
    Now(elapsed);
    Draw();
    m_out << '\n' << FormatStationSummary(PortNames(), counts, exitCode, m_now) << std::flush;
  }

 private:
  std::string StateText(const StationView& station, const PortView& run) const {
    const std::string tag = ModuleTag(station.module) + ": ";
    switch (station.phase) {
      case StationPhase::Waiting: return "waiting for a module";
      case StationPhase::Connecting: return tag + "connecting";
      case StationPhase::Programming: {
        // Percentage and time left only: the line must fit beside the counts.
        std::string text = tag + "programming " + std::to_string(Percent(run)) + "%";
        const double rate = Rate(run, m_now);
        if (rate <= 0) return text;
        return text + ", " + FormatDuration((run.total - run.position) / rate) + " left";
      }
      case StationPhase::Loaded: return tag + "MODULE LOADED, take it off";
      case StationPhase::Failed:
        return tag + "FAILED: " + DisplayText(station.failure) + ", take it off";
      case StationPhase::Stopped:
        return station.stopped.empty() ? "done" : "stopped: " + DisplayText(station.stopped);
    }
    return {};
  }

  std::string Line(const std::string& name, const std::string& counts,
                   const std::string& state) const {
    return m_block.Padded(name) + "  " + counts + "  " + state;
  }

  // Numbers as wide as the total's, so the columns line up.
  static std::string Counts(const StationCounts& counts, int width) {
    char text[64];
    std::snprintf(text, sizeof text, "loaded %*zu  failed %*zu", width, counts.loaded, width,
                  counts.failed);
    return text;
  }

  void Draw() {
    StationCounts total;
    for (const auto& station : m_stations) {
      total.loaded += station.counts.loaded;
      total.failed += station.counts.failed;
    }
    const int width = static_cast<int>(std::to_string(std::max(total.loaded, total.failed)).size());
    std::vector<std::string> lines;
    for (size_t port = 0; port < m_stations.size(); ++port) {
      lines.push_back(Line(m_views[port].shown, Counts(m_stations[port].counts, width),
                           StateText(m_stations[port], m_views[port])));
    }
    lines.push_back(Line("total", Counts(total, width), "session " + FormatDuration(m_now)));
    m_block.Draw(std::move(lines), m_now);
  }

  LiveBlock m_block;
};

}  // namespace

std::unique_ptr<RunOutput> MakeLiveOutput(const OutputSettings& settings, std::ostream& out,
                                          std::ostream& err) {
  return std::make_unique<BarsOutput>(settings, out, err);
}

std::unique_ptr<StationOutput> MakeLiveStation(const OutputSettings& settings, std::ostream& out,
                                               std::ostream& err) {
  return std::make_unique<LiveStation>(settings, out, err);
}

}  // namespace vexel::cli

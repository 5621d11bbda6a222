// The four ways of showing a station session. They share one per-port view
// (phase, module number, the run's progress, the port's counts) and differ
// only in how and when they print it.
#include "output/station_output.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>
#include <ostream>

#include "output/display_text.h"
#include "cli/exit_codes.h"
#include "console/output_channel.h"
#include "output/run_views.h"
#include "output/text_table.h"

namespace vexel::cli {
namespace {

enum class Phase { Waiting, Connecting, Programming, Loaded, Failed, Stopped };

struct StationView {
  PortView run;  // the module being programmed, as a load tracks it
  Phase phase = Phase::Waiting;
  size_t module = 0;
  StationCounts counts;
  std::string failure;  // the latest failure with its reason
  std::string stopped;  // why the port stopped; empty for --count
};

std::string ModuleTag(size_t module) { return "module " + std::to_string(module); }

// "MODULE LOADED in 0.62 s (4838 B/s)"; other outcomes as they are.
std::string OutcomeText(const PortSummary& result) {
  if (!result.loaded) return result.outcome;
  char rate[48];
  std::snprintf(rate, sizeof rate, " in %.2f s (%.0f B/s)", result.seconds,
                BytesPerSecond(result));
  return result.outcome + rate;
}

class TrackingStation : public StationOutput {
 public:
  TrackingStation(const OutputSettings& settings, std::ostream& out, std::ostream& err)
      : m_out(out), m_err(err) {
    for (const auto& name : settings.ports) {
      StationView view;
      view.run.name = name;
      view.run.shown = DisplayText(name);
      m_views.push_back(view);
    }
  }

  void Started(const StationInfo& info) override { m_info = info; }

  void PortWarning(size_t port, const std::string& text, double elapsed) override {
    Notice("warning", m_views.at(port).run.name + ": warning: " + text, elapsed);
  }

  void ModuleFound(size_t port, size_t module, double elapsed) override {
    StationView& view = m_views.at(port);
    view.phase = Phase::Connecting;
    view.module = module;
    view.failure.clear();
    PortView fresh;
    fresh.name = view.run.name;
    fresh.shown = view.run.shown;
    view.run = fresh;
    Now(elapsed);
  }

  void OnEvent(size_t, const PortEvent& event) override {
    StationView& view = m_views.at(event.port);
    PortView& run = view.run;
    run.kind = event.kind;
    run.status = event.status;
    run.position = event.position;
    run.total = event.total;
    if (event.kind == PortEventKind::Started) {
      run.runStart = event.elapsed;
      view.phase = Phase::Programming;
    }
    if (event.kind == PortEventKind::Failed) view.failure = event.message;
    Now(event.elapsed);
  }

  void ModuleEnded(size_t port, size_t, const PortSummary& result, const StationCounts& counts,
                   double elapsed) override {
    StationView& view = m_views.at(port);
    view.phase = result.loaded ? Phase::Loaded : Phase::Failed;
    view.counts = counts;
    if (view.failure.empty()) view.failure = result.outcome;
    Now(elapsed);
  }

  void ModuleRemoved(size_t port, size_t, double elapsed) override {
    m_views.at(port).phase = Phase::Waiting;
    Now(elapsed);
  }

  void PortStopped(size_t port, const std::string& reason, double elapsed) override {
    m_views.at(port).phase = Phase::Stopped;
    m_views.at(port).stopped = reason;
    Now(elapsed);
  }

  void Tick(double elapsed) override { Now(elapsed); }

  void Trace(const std::string& line) override { m_err << line + '\n' << std::flush; }

  void Unwritten(const std::string& log, const std::vector<std::string>& lines) override {
    if (lines.empty()) return;
    m_out << std::flush;
    std::string text = std::to_string(lines.size()) + " audit record" +
                       (lines.size() == 1 ? "" : "s") + " not written to " + DisplayText(log) +
                       ":\n";
    for (const auto& line : lines) text += line.back() == '\n' ? line : line + '\n';
    m_err << text << std::flush;
  }

 protected:
  void Now(double elapsed) { m_now = std::max(m_now, elapsed); }

  // "PORT: module 3: text" on the error stream.
  void PrintFailure(size_t port, size_t module, const std::string& text) {
    m_out << std::flush;
    m_err << m_views.at(port).run.shown << ": " << ModuleTag(module) << ": " << DisplayText(text)
          << '\n'
          << std::flush;
  }

  void PrintStopped(size_t port, const std::string& reason) {
    if (reason.empty()) return;
    m_out << std::flush;
    m_err << m_views.at(port).run.shown << ": " << DisplayText(reason) << '\n' << std::flush;
  }

  std::vector<std::string> PortNames() const {
    std::vector<std::string> names;
    for (const auto& view : m_views) names.push_back(view.run.name);
    return names;
  }

  std::string ImageLine() const {
    return "Image " + DisplayText(m_info.image) + ": " + std::to_string(m_info.size) +
           " bytes, SHA-256 " + m_info.sha256 + "\n" +
           (m_info.log.empty() ? "" : "Audit log: " + DisplayText(m_info.log) + "\n");
  }

  StationInfo m_info;
  std::vector<StationView> m_views;
  std::ostream& m_out;
  std::ostream& m_err;
  double m_now = 0;
};

constexpr double kLinePeriod = 5.0;  // a plain progress line at least this often

class LinesStation final : public TrackingStation {
 public:
  using TrackingStation::TrackingStation;

  void Started(const StationInfo& info) override {
    TrackingStation::Started(info);
    m_out << ImageLine() << std::flush;
    for (size_t port = 0; port < m_views.size(); ++port) Print(port, "waiting for a module");
  }

  void OnEvent(size_t module, const PortEvent& event) override {
    TrackingStation::OnEvent(module, event);
    StationView& view = m_views.at(event.port);
    const std::string tag = ModuleTag(module) + ": ";
    switch (event.kind) {
      case PortEventKind::Connected: return Print(event.port, tag + text::kConnected);
      case PortEventKind::Started:
        return Print(event.port, tag + "sending " + std::to_string(event.total) + " bytes");
      case PortEventKind::Status: return Print(event.port, tag + event.status);
      case PortEventKind::Progress: {
        const int tenth = Percent(view.run) / 10;
        if (tenth <= view.run.printedTenth && m_now - view.run.printedAt < kLinePeriod) return;
        view.run.printedTenth = tenth;
        view.run.printedAt = m_now;
        MarkProgress(m_out);
        return Print(event.port, tag + ProgressText(view.run, m_now, ", "));
      }
      default: return;  // the outcome comes with ModuleEnded
    }
  }

  void ModuleEnded(size_t port, size_t module, const PortSummary& result,
                   const StationCounts& counts, double elapsed) override {
    TrackingStation::ModuleEnded(port, module, result, counts, elapsed);
    if (result.loaded) return Print(port, ModuleTag(module) + ": " + OutcomeText(result));
    PrintFailure(port, module, m_views.at(port).failure);
  }

  void ModuleRemoved(size_t port, size_t module, double elapsed) override {
    TrackingStation::ModuleRemoved(port, module, elapsed);
    const StationCounts& counts = m_views.at(port).counts;
    Print(port, ModuleTag(module) + " taken off (" + std::to_string(counts.loaded) + " loaded, " +
                    std::to_string(counts.failed) + " failed); waiting for a module");
  }

  void PortStopped(size_t port, const std::string& reason, double elapsed) override {
    TrackingStation::PortStopped(port, reason, elapsed);
    if (reason.empty()) return Print(port, "done: " + std::to_string(m_info.count) + " modules");
    PrintStopped(port, reason);
  }

  void Notice(const char*, const std::string& text, double elapsed) override {
    Now(elapsed);
    m_out << std::flush;
    m_err << DisplayText(text) << '\n' << std::flush;
  }

  void Finish(const std::vector<StationCounts>& counts, int exitCode, double elapsed) override {
    Now(elapsed);
    m_out << '\n' << FormatStationSummary(PortNames(), counts, exitCode, m_now) << std::flush;
  }

 private:
  void Print(size_t port, const std::string& text) {
    m_out << m_views.at(port).run.shown << ": " << DisplayText(text) << '\n' << std::flush;
  }
};

class QuietStation final : public TrackingStation {
 public:
  using TrackingStation::TrackingStation;

  void ModuleEnded(size_t port, size_t module, const PortSummary& result,
                   const StationCounts& counts, double elapsed) override {
    TrackingStation::ModuleEnded(port, module, result, counts, elapsed);
    if (!result.loaded) return PrintFailure(port, module, m_views.at(port).failure);
    m_out << m_views.at(port).run.shown << ": " << ModuleTag(module) << ": " << result.outcome
          << '\n'
          << std::flush;
  }

  void PortStopped(size_t port, const std::string& reason, double elapsed) override {
    TrackingStation::PortStopped(port, reason, elapsed);
    PrintStopped(port, reason);
  }

  void Notice(const char*, const std::string& text, double) override {
    m_out << std::flush;
    m_err << DisplayText(text) << '\n' << std::flush;
  }

  void Finish(const std::vector<StationCounts>&, int, double) override {}
};

class JsonStation final : public TrackingStation {
 public:
  using TrackingStation::TrackingStation;

  void Started(const StationInfo& info) override {
    TrackingStation::Started(info);
    Write({{"event", "session"},
           {"state", "started"},
           {"image", info.image},
           {"size", info.size},
           {"sha256", info.sha256},
           {"ports", PortNames()},
           {"count", info.count},
           {"log", info.log.empty() ? nlohmann::json(nullptr) : nlohmann::json(info.log)},
           {"elapsed", 0}});
  }

  void ModuleFound(size_t port, size_t module, double elapsed) override {
    TrackingStation::ModuleFound(port, module, elapsed);
    WriteModule(port, module, "found", elapsed);
  }

  // The run's events as a load writes them, with the module's number.
  void OnEvent(size_t module, const PortEvent& event) override {
    TrackingStation::OnEvent(module, event);
    const PortView& run = m_views.at(event.port).run;
    nlohmann::json line = {{"port", run.name},         {"event", EventName(event.kind)},
                           {"module", module},         {"position", event.position},
                           {"total", event.total},     {"status", event.status},
                           {"message", nullptr},       {"elapsed", RoundMs(event.elapsed)}};
    if (!event.message.empty()) line["message"] = event.message;
    if (event.kind == PortEventKind::Progress) MarkProgress(m_out);
    Write(line);
  }

  void ModuleEnded(size_t port, size_t module, const PortSummary& result,
                   const StationCounts& counts, double elapsed) override {
    TrackingStation::ModuleEnded(port, module, result, counts, elapsed);
    const std::string& failure = m_views.at(port).failure;
    if (!result.loaded) PrintFailure(port, module, failure);
    nlohmann::json line = ModuleLine(port, module, result.loaded ? "loaded" : "failed", elapsed);
    line["result"] = result.outcome;
    line["message"] = result.loaded ? nlohmann::json(nullptr) : nlohmann::json(failure);
    line["exit_code"] = result.exitCode;
    line["bytes"] = result.bytes;
    line["seconds"] = RoundMs(result.seconds);
    line["bytes_per_second"] = result.loaded ? std::round(BytesPerSecond(result)) : 0.0;
    line["loaded"] = counts.loaded;
    line["failed"] = counts.failed;
    Write(line);
  }

  void ModuleRemoved(size_t port, size_t module, double elapsed) override {
    TrackingStation::ModuleRemoved(port, module, elapsed);
    WriteModule(port, module, "removed", elapsed);
  }

  void PortStopped(size_t port, const std::string& reason, double elapsed) override {
    TrackingStation::PortStopped(port, reason, elapsed);
    PrintStopped(port, reason);
    Write({{"port", m_views.at(port).run.name},
           {"event", "stopped"},
           {"reason", reason.empty() ? "count" : "port"},
           {"message", reason.empty() ? nlohmann::json(nullptr) : nlohmann::json(reason)},
           {"elapsed", RoundMs(elapsed)}});
  }

  void PortAdapter(size_t port, const nlohmann::json& adapter) override {
    if (m_adapters.size() <= port) m_adapters.resize(port + 1);
    m_adapters[port] = adapter;
  }

  void PortEnded(size_t port, const char* why, double elapsed) override {
    Write({{"port", m_views.at(port).run.name},
           {"event", "stopped"},
           {"reason", why},
           {"message", nullptr},
           {"elapsed", RoundMs(elapsed)}});
  }

  void PortWarning(size_t port, const std::string& text, double elapsed) override {
    const PortView& run = m_views.at(port).run;
    m_err << run.shown << ": warning: " << DisplayText(text) << '\n' << std::flush;
    Write({{"port", run.name}, {"event", "warning"}, {"message", text}, {"elapsed", RoundMs(elapsed)}});
  }

  void Notice(const char* event, const std::string& text, double elapsed) override {
    m_err << DisplayText(text) << '\n' << std::flush;
    Write({{"event", "session"}, {"state", event}, {"message", text}, {"elapsed", RoundMs(elapsed)}});
  }

  void Finish(const std::vector<StationCounts>& counts, int exitCode, double elapsed) override {
    Now(elapsed);
    StationCounts total;
    for (size_t i = 0; i < counts.size() && i < m_views.size(); ++i) {
      Write({{"port", m_views[i].run.name},
             {"event", "result"},
             {"modules", counts[i].modules},
             {"loaded", counts[i].loaded},
             {"failed", counts[i].failed},
             {"elapsed", RoundMs(m_now)}});
      total.modules += counts[i].modules;
      total.loaded += counts[i].loaded;
      total.failed += counts[i].failed;
    }
    Write({{"event", "session"},
           {"state", "ended"},
           {"modules", total.modules},
           {"loaded", total.loaded},
           {"failed", total.failed},
           {"exit_code", exitCode},
           {"elapsed", RoundMs(m_now)}});
    Write({{"event", "exit"}, {"exit_code", exitCode}, {"elapsed", RoundMs(m_now)}});
  }

 private:
  nlohmann::json ModuleLine(size_t port, size_t module, const char* state, double elapsed) {
    nlohmann::json line = {{"port", m_views.at(port).run.name},
                           {"event", "module"},
                           {"module", module},
                           {"state", state},
                           {"elapsed", RoundMs(elapsed)}};
    if (port < m_adapters.size() && !m_adapters[port].is_null()) line["adapter"] = m_adapters[port];
    return line;
  }
  void WriteModule(size_t port, size_t module, const char* state, double elapsed) {
    Write(ModuleLine(port, module, state, elapsed));
  }
  void Write(const nlohmann::json& line) { m_out << JsonLine(line) << '\n' << std::flush; }

  std::vector<nlohmann::json> m_adapters;  // per port; null: nothing known
};

// A line per port and a total line under them, redrawn in place as the
// load's bars are.
class LiveStation final : public TrackingStation {
 public:
  LiveStation(const OutputSettings& settings, std::ostream& out, std::ostream& err)
      : TrackingStation(settings, out, err),
        m_block(out, settings.width),
        m_errOnTerminal(settings.errOnTerminal) {
    for (const auto& view : m_views) m_nameWidth = std::max(m_nameWidth, view.run.shown.size());
    m_nameWidth = std::max(m_nameWidth, std::string("total").size());
  }

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
    if (event.kind == PortEventKind::Progress && m_now - m_drawnAt < kRedrawPeriod) {
      m_dirty = true;
      return;
    }
    Draw();
  }
  void ModuleEnded(size_t port, size_t module, const PortSummary& result,
                   const StationCounts& counts, double elapsed) override {
    TrackingStation::ModuleEnded(port, module, result, counts, elapsed);
    if (!result.loaded) {
      Erase();
      PrintFailure(port, module, m_views.at(port).failure);
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
      Erase();
      PrintStopped(port, reason);
    }
    Draw();
  }
  void Notice(const char*, const std::string& text, double elapsed) override {
    Now(elapsed);
    Erase();
    m_err << DisplayText(text) << '\n' << std::flush;
    Draw();
  }
  void Unwritten(const std::string& log, const std::vector<std::string>& lines) override {
    if (!lines.empty()) Erase();
    TrackingStation::Unwritten(log, lines);
  }
  void Tick(double elapsed) override {
    Now(elapsed);
    // The clock on the total line moves once a second even when nothing else does.
    if ((m_dirty && m_now - m_drawnAt >= kRedrawPeriod) || m_now - m_drawnAt >= 1.0) Draw();
  }
  void Trace(const std::string& line) override {
    if (m_errOnTerminal) Erase();
    m_err << line + '\n' << std::flush;
    m_dirty = true;
  }
  void Finish(const std::vector<StationCounts>& counts, int exitCode, double elapsed) override {
    Now(elapsed);
    Draw();
    m_out << '\n' << FormatStationSummary(PortNames(), counts, exitCode, m_now) << std::flush;
  }

 private:
  static constexpr double kRedrawPeriod = 0.1;

  std::string StateText(const StationView& view) const {
    const std::string tag = ModuleTag(view.module) + ": ";
    switch (view.phase) {
      case Phase::Waiting: return "waiting for a module";
      case Phase::Connecting: return tag + "connecting";
      case Phase::Programming: {
        // Percentage and time left only: the line must fit beside the counts.
        std::string text = tag + "programming " + std::to_string(Percent(view.run)) + "%";
        const double rate = Rate(view.run, m_now);
        if (rate <= 0) return text;
        return text + ", " + FormatDuration((view.run.total - view.run.position) / rate) + " left";
      }
      case Phase::Loaded: return tag + "MODULE LOADED, take it off";
      case Phase::Failed: return tag + "FAILED: " + DisplayText(view.failure) + ", take it off";
      case Phase::Stopped:
        return view.stopped.empty() ? "done" : "stopped: " + DisplayText(view.stopped);
    }
    return {};
  }

  std::string Line(const std::string& name, const std::string& counts,
                   const std::string& state) const {
    return name + std::string(m_nameWidth - name.size(), ' ') + "  " + counts + "  " + state;
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
    for (const auto& view : m_views) {
      total.loaded += view.counts.loaded;
      total.failed += view.counts.failed;
    }
    const int width =
        static_cast<int>(std::to_string(std::max(total.loaded, total.failed)).size());
    std::vector<std::string> lines;
    for (const auto& view : m_views) {
      lines.push_back(Line(view.run.shown, Counts(view.counts, width), StateText(view)));
    }
    lines.push_back(Line("total", Counts(total, width), "session " + FormatDuration(m_now)));
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

std::unique_ptr<StationOutput> MakeStationOutput(const OutputSettings& settings,
                                                 std::ostream& out, std::ostream& err) {
  switch (settings.mode) {
    case OutputMode::Bars: return std::make_unique<LiveStation>(settings, out, err);
    case OutputMode::Quiet: return std::make_unique<QuietStation>(settings, out, err);
    case OutputMode::Json: return std::make_unique<JsonStation>(settings, out, err);
    case OutputMode::Lines: break;
  }
  return std::make_unique<LinesStation>(settings, out, err);
}

std::string FormatStationSummary(const std::vector<std::string>& ports,
                                 const std::vector<StationCounts>& counts, int exitCode,
                                 double elapsed) {
  using A = TextTable::Align;
  TextTable table({"PORT", "MODULES", "LOADED", "FAILED", "LAST RESULT"},
                  {A::Left, A::Right, A::Right, A::Right, A::Left});
  StationCounts total;
  for (size_t i = 0; i < ports.size() && i < counts.size(); ++i) {
    const StationCounts& row = counts[i];
    table.AddRow({ports[i], std::to_string(row.modules), std::to_string(row.loaded),
                  std::to_string(row.failed), row.last});
    total.modules += row.modules;
    total.loaded += row.loaded;
    total.failed += row.failed;
  }
  table.AddRow({"total", std::to_string(total.modules), std::to_string(total.loaded),
                std::to_string(total.failed), ""});
  return table.Render() + std::to_string(total.loaded) + " of " +
         std::to_string(total.modules) + " modules loaded in " + FormatDuration(elapsed) +
         "; exit status " + std::to_string(exitCode) + "\n";
}

}  // namespace vexel::cli

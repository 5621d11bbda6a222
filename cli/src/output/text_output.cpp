// Plain text for people reading a log: a line at each step of each port
// (and every tenth of a run, or every five seconds), or with --quiet only
// the results. Failures go to the error stream either way.
#include <cstdio>
#include <ostream>

#include "console/output_channel.h"
#include "output/display_text.h"
#include "output/run_views.h"

namespace vexel::cli {
namespace {

constexpr double kLinePeriod = 5.0;  // a plain progress line at least this often

// The lines of the events that need no figures.
constexpr EventWord kEventLines[] = {
    {PortEventKind::Connecting, "connecting"},
    {PortEventKind::Connected, "CONNECTED"},
    {PortEventKind::Loaded, "MODULE LOADED"},
    {PortEventKind::Interrupted, "interrupted"},
};

const char* LineOf(PortEventKind kind) { return WordOf(kEventLines, kind, ""); }

void PrintLine(std::ostream& out, const PortView& view, const std::string& text) {
  out << view.shown << ": " << DisplayText(text) << '\n' << std::flush;
}

// A progress line when the run crosses a tenth of the image, or kLinePeriod
// after the last one.
void PrintProgress(std::ostream& out, PortView& view, double now, const std::string& tag) {
  const int tenth = Percent(view) / 10;
  if (tenth <= view.printedTenth && now - view.printedAt < kLinePeriod) return;
  view.printedTenth = tenth;
  view.printedAt = now;
  MarkProgress(out);
  PrintLine(out, view, tag + ProgressText(view, now, ", "));
}

// The steps of a run, as a load and a station's module tell them; false for
// the events each tells its own way.
bool PrintRunStep(std::ostream& out, PortView& view, const PortEvent& event, double now,
                  const std::string& tag) {
  switch (event.kind) {
    case PortEventKind::Connected: PrintLine(out, view, tag + LineOf(event.kind)); return true;
    case PortEventKind::Started:
      PrintLine(out, view, tag + "sending " + std::to_string(event.total) + " bytes");
      return true;
    case PortEventKind::Status: PrintLine(out, view, tag + event.status); return true;
    case PortEventKind::Progress: PrintProgress(out, view, now, tag); return true;
    default: return false;
  }
}

// "MODULE LOADED in 0.62 s (4838 B/s)"; other outcomes as they are.
std::string OutcomeText(const PortSummary& result) {
  if (!result.loaded) return result.outcome;
  char rate[48];
  std::snprintf(rate, sizeof rate, " in %.2f s (%.0f B/s)", result.seconds, BytesPerSecond(result));
  return result.outcome + rate;
}

class LinesOutput final : public TrackingOutput {
 public:
  using TrackingOutput::TrackingOutput;

  void OnEvent(const PortEvent& event) override {
    Track(event);
    if (event.kind == PortEventKind::Failed) return PrintFailure(event);
    PortView& view = m_views[event.port];
    if (!PrintRunStep(m_out, view, event, event.elapsed, "")) {
      PrintLine(m_out, view, LineOf(event.kind));
    }
  }

  void Finish(const std::vector<PortSummary>& rows, int exitCode) override {
    m_out << '\n' << FormatSummary(rows, exitCode) << std::flush;
  }
};

class QuietOutput final : public TrackingOutput {
 public:
  using TrackingOutput::TrackingOutput;

  void OnEvent(const PortEvent& event) override {
    Track(event);
    if (event.kind == PortEventKind::Failed) return PrintFailure(event);
    if (event.kind == PortEventKind::Loaded || event.kind == PortEventKind::Interrupted) {
      PrintLine(m_out, m_views[event.port], LineOf(event.kind));
    }
  }

  void Finish(const std::vector<PortSummary>&, int) override {}
};

class LinesStation final : public TrackingStation {
 public:
  using TrackingStation::TrackingStation;

  void Started(const StationInfo& info) override {
    TrackingStation::Started(info);
    m_out << ImageLine() << std::flush;
    for (size_t port = 0; port < m_views.size(); ++port) Print(port, "waiting for a module");
  }

  // The outcome comes with ModuleEnded.
  void OnEvent(size_t module, const PortEvent& event) override {
    TrackingStation::OnEvent(module, event);
    PrintRunStep(m_out, m_views.at(event.port), event, m_now, ModuleTag(module) + ": ");
  }

  void ModuleEnded(size_t port, size_t module, const PortSummary& result,
                   const StationCounts& counts, double elapsed) override {
    TrackingStation::ModuleEnded(port, module, result, counts, elapsed);
    if (result.loaded) return Print(port, ModuleTag(module) + ": " + OutcomeText(result));
    PrintFailure(port, module, m_stations.at(port).failure);
  }

  void ModuleRemoved(size_t port, size_t module, double elapsed) override {
    TrackingStation::ModuleRemoved(port, module, elapsed);
    const StationCounts& counts = m_stations.at(port).counts;
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
    PrintNotice(text);
  }

  void Finish(const std::vector<StationCounts>& counts, int exitCode, double elapsed) override {
    Now(elapsed);
    m_out << '\n' << FormatStationSummary(PortNames(), counts, exitCode, m_now) << std::flush;
  }

 private:
  void Print(size_t port, const std::string& text) { PrintLine(m_out, m_views.at(port), text); }
};

class QuietStation final : public TrackingStation {
 public:
  using TrackingStation::TrackingStation;

  void ModuleEnded(size_t port, size_t module, const PortSummary& result,
                   const StationCounts& counts, double elapsed) override {
    TrackingStation::ModuleEnded(port, module, result, counts, elapsed);
    if (!result.loaded) return PrintFailure(port, module, m_stations.at(port).failure);
    PrintLine(m_out, m_views.at(port), ModuleTag(module) + ": " + result.outcome);
  }

  void PortStopped(size_t port, const std::string& reason, double elapsed) override {
    TrackingStation::PortStopped(port, reason, elapsed);
    PrintStopped(port, reason);
  }

  void Notice(const char*, const std::string& text, double) override { PrintNotice(text); }

  void Finish(const std::vector<StationCounts>&, int, double) override {}
};

}  // namespace

std::unique_ptr<RunOutput> MakeTextOutput(const OutputSettings& settings, std::ostream& out,
                                          std::ostream& err) {
  if (settings.mode == OutputMode::Quiet) return std::make_unique<QuietOutput>(settings, out, err);
  return std::make_unique<LinesOutput>(settings, out, err);
}

std::unique_ptr<StationOutput> MakeTextStation(const OutputSettings& settings, std::ostream& out,
                                               std::ostream& err) {
  if (settings.mode == OutputMode::Quiet) {
    return std::make_unique<QuietStation>(settings, out, err);
  }
  return std::make_unique<LinesStation>(settings, out, err);
}

}  // namespace vexel::cli

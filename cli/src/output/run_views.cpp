// What the formats share: the figures of a run as text, the tracking of
// each port's events, and the choice of a format for a load or a station.
#include "output/run_views.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>

#include "output/display_text.h"

namespace vexel::cli {

int Percent(const PortView& view) {
  if (view.kind == PortEventKind::Loaded) return 100;
  if (view.total == 0) return 0;
  return static_cast<int>(uint64_t{view.position} * 100 / view.total);
}

double Rate(const PortView& view, double now) {
  const double seconds = now - view.runStart;
  if (view.runStart < 0 || seconds <= 0) return 0;
  return view.position / seconds;
}

std::string FormatRate(double bytesPerSecond) {
  char text[32];
  if (bytesPerSecond < 1000) {
    std::snprintf(text, sizeof text, "%.0f B/s", bytesPerSecond);
  } else {
    std::snprintf(text, sizeof text, "%.1f kB/s", bytesPerSecond / 1000);
  }
  return text;
}

std::string FormatDuration(double seconds) {
  const auto total = static_cast<long>(std::max(0.0, seconds) + 0.5);
  char text[32];
  if (total >= 3600) {
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
  } else {
    std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
  }
  return text;
}

std::string ProgressText(const PortView& view, double now, const char* separator) {
  char text[64];
  std::snprintf(text, sizeof text, "%3d%% %u/%u bytes", Percent(view), view.position, view.total);
  const double rate = Rate(view, now);
  if (rate <= 0) return text;
  const double left = (view.total - view.position) / rate;
  return text + (separator + FormatRate(rate)) + separator + FormatDuration(left) + " left";
}

std::string ModuleTag(size_t module) { return "module " + std::to_string(module); }

double RoundMs(double seconds) { return std::round(seconds * 1000.0) / 1000.0; }

TrackedPorts::TrackedPorts(const OutputSettings& settings, std::ostream& out, std::ostream& err)
    : m_out(out), m_err(err) {
  for (const auto& name : settings.ports) {
    PortView view;
    view.name = name;
    view.shown = DisplayText(name);
    m_views.push_back(view);
  }
}

void TrackedPorts::Track(const PortEvent& event) {
  if (event.port >= m_views.size()) m_views.resize(event.port + 1);
  PortView& view = m_views[event.port];
  view.kind = event.kind;
  view.status = event.status;
  view.position = event.position;
  view.total = event.total;
  if (event.kind == PortEventKind::Started) view.runStart = event.elapsed;
  Now(event.elapsed);
}

void TrackedPorts::Restart(size_t port) {
  PortView& view = m_views.at(port);
  PortView fresh;
  fresh.name = view.name;
  fresh.shown = view.shown;
  view = fresh;
}

void TrackedPorts::Now(double elapsed) { m_now = std::max(m_now, elapsed); }

void TrackedPorts::PrintError(size_t port, const std::string& text) {
  m_out << std::flush;
  m_err << m_views.at(port).shown << ": " << DisplayText(text) << '\n' << std::flush;
}

void TrackedPorts::PrintNotice(const std::string& text) {
  m_out << std::flush;
  m_err << DisplayText(text) << '\n' << std::flush;
}

void TrackedPorts::PrintTrace(const std::string& line) { m_err << line + '\n' << std::flush; }

std::vector<std::string> TrackedPorts::PortNames() const {
  std::vector<std::string> names;
  for (const auto& view : m_views) names.push_back(view.name);
  return names;
}

void TrackingOutput::Warn(size_t port, const std::string& text) {
  if (port < m_views.size()) PrintError(port, "warning: " + text);
}

TrackingStation::TrackingStation(const OutputSettings& settings, std::ostream& out,
                                 std::ostream& err)
    : TrackedPorts(settings, out, err), m_stations(settings.ports.size()) {}

void TrackingStation::PortWarning(size_t port, const std::string& text, double elapsed) {
  Notice("warning", m_views.at(port).name + ": warning: " + text, elapsed);
}

void TrackingStation::ModuleFound(size_t port, size_t module, double elapsed) {
  StationView& station = m_stations.at(port);
  station.phase = StationPhase::Connecting;
  station.module = module;
  station.failure.clear();
  Restart(port);
  Now(elapsed);
}

void TrackingStation::OnEvent(size_t, const PortEvent& event) {
  StationView& station = m_stations.at(event.port);
  Track(event);
  if (event.kind == PortEventKind::Started) station.phase = StationPhase::Programming;
  if (event.kind == PortEventKind::Failed) station.failure = event.message;
}

void TrackingStation::ModuleEnded(size_t port, size_t, const PortSummary& result,
                                  const StationCounts& counts, double elapsed) {
  StationView& station = m_stations.at(port);
  station.phase = result.loaded ? StationPhase::Loaded : StationPhase::Failed;
  station.counts = counts;
  if (station.failure.empty()) station.failure = result.outcome;
  Now(elapsed);
}

void TrackingStation::ModuleRemoved(size_t port, size_t, double elapsed) {
  m_stations.at(port).phase = StationPhase::Waiting;
  Now(elapsed);
}

void TrackingStation::PortStopped(size_t port, const std::string& reason, double elapsed) {
  m_stations.at(port).phase = StationPhase::Stopped;
  m_stations.at(port).stopped = reason;
  Now(elapsed);
}

void TrackingStation::Unwritten(const std::string& log, const std::vector<std::string>& lines) {
  if (lines.empty()) return;
  m_out << std::flush;
  std::string text = std::to_string(lines.size()) + " audit record" +
                     (lines.size() == 1 ? "" : "s") + " not written to " + DisplayText(log) + ":\n";
  for (const auto& line : lines) text += line.back() == '\n' ? line : line + '\n';
  m_err << text << std::flush;
}

void TrackingStation::PrintFailure(size_t port, size_t module, const std::string& text) {
  PrintError(port, ModuleTag(module) + ": " + text);
}

void TrackingStation::PrintStopped(size_t port, const std::string& reason) {
  if (!reason.empty()) PrintError(port, reason);
}

std::string TrackingStation::ImageLine() const {
  return "Image " + DisplayText(m_info.image) + ": " + std::to_string(m_info.size) +
         " bytes, SHA-256 " + m_info.sha256 + "\n" +
         (m_info.log.empty() ? "" : "Audit log: " + DisplayText(m_info.log) + "\n");
}

std::unique_ptr<RunOutput> MakeRunOutput(const OutputSettings& settings, std::ostream& out,
                                         std::ostream& err) {
  switch (settings.mode) {
    case OutputMode::Bars: return MakeLiveOutput(settings, out, err);
    case OutputMode::Json: return MakeJsonOutput(settings, out, err);
    case OutputMode::Lines:
    case OutputMode::Quiet: break;
  }
  return MakeTextOutput(settings, out, err);
}

std::unique_ptr<StationOutput> MakeStationOutput(const OutputSettings& settings, std::ostream& out,
                                                 std::ostream& err) {
  switch (settings.mode) {
    case OutputMode::Bars: return MakeLiveStation(settings, out, err);
    case OutputMode::Json: return MakeJsonStation(settings, out, err);
    case OutputMode::Lines:
    case OutputMode::Quiet: break;
  }
  return MakeTextStation(settings, out, err);
}

}  // namespace vexel::cli

// The four ways of showing a run. All keep the same per-port view of the
// events; they differ only in how and when they print it.
#include "output/run_output.h"

#include <cmath>
#include <nlohmann/json.hpp>
#include <ostream>

#include "output/display_text.h"
#include "console/output_channel.h"
#include "output/run_views.h"

namespace vexel::cli {
namespace {

// JSON names and the plain lines of the events that need no figures.
struct EventText {
  PortEventKind kind;
  const char* name;
  const char* line;  // nullptr: printed with figures, or not at all
};

constexpr EventText kEventTexts[] = {
    {PortEventKind::Connecting, "connecting", "connecting"},
    {PortEventKind::Connected, "connected", "CONNECTED"},
    {PortEventKind::Started, "started", nullptr},
    {PortEventKind::Status, "status", nullptr},
    {PortEventKind::Progress, "progress", nullptr},
    {PortEventKind::Loaded, "loaded", "MODULE LOADED"},
    {PortEventKind::Failed, "failed", nullptr},
    {PortEventKind::Interrupted, "interrupted", "interrupted"},
};

const EventText& TextOf(PortEventKind kind) {
  for (const auto& entry : kEventTexts) {
    if (entry.kind == kind) return entry;
  }
  return kEventTexts[0];
}

constexpr double kLinePeriod = 5.0;  // a plain progress line at least this often

class LinesOutput final : public TrackingOutput {
 public:
  using TrackingOutput::TrackingOutput;

  void OnEvent(const PortEvent& event) override {
    Track(event);
    const PortView& view = m_views[event.port];
    if (event.kind == PortEventKind::Failed) return PrintFailure(event);
    if (event.kind == PortEventKind::Started) {
      return PrintLine(view, "sending " + std::to_string(view.total) + " bytes");
    }
    if (event.kind == PortEventKind::Status) return PrintLine(view, view.status);
    if (event.kind == PortEventKind::Progress) return MaybePrintProgress(event.port, event.elapsed);
    PrintLine(view, TextOf(event.kind).line);
  }

  void Finish(const std::vector<PortSummary>& rows, int exitCode) override {
    m_out << '\n' << FormatSummary(rows, exitCode) << std::flush;
  }

 private:
  void PrintLine(const PortView& view, const std::string& text) {
    m_out << view.shown << ": " << DisplayText(text) << '\n' << std::flush;
  }

  // A line when the run crosses a tenth of the image, or after kLinePeriod.
  void MaybePrintProgress(size_t port, double now) {
    PortView& view = m_views[port];
    const int tenth = Percent(view) / 10;
    if (tenth <= view.printedTenth && now - view.printedAt < kLinePeriod) return;
    view.printedTenth = tenth;
    view.printedAt = now;
    MarkProgress(m_out);
    PrintLine(view, ProgressText(view, now, ", "));
  }
};

class QuietOutput final : public TrackingOutput {
 public:
  using TrackingOutput::TrackingOutput;

  void OnEvent(const PortEvent& event) override {
    Track(event);
    if (event.kind == PortEventKind::Failed) return PrintFailure(event);
    if (event.kind == PortEventKind::Loaded || event.kind == PortEventKind::Interrupted) {
      m_out << m_views[event.port].shown << ": " << TextOf(event.kind).line << '\n' << std::flush;
    }
  }

  void Finish(const std::vector<PortSummary>&, int) override {}
};

class JsonOutput final : public TrackingOutput {
 public:
  using TrackingOutput::TrackingOutput;

  void OnEvent(const PortEvent& event) override {
    Track(event);
    if (event.kind == PortEventKind::Failed) PrintFailure(event);
    nlohmann::json line = Common(m_views[event.port], EventName(event.kind), event.elapsed);
    if (!event.message.empty()) line["message"] = event.message;
    if (event.kind == PortEventKind::Progress) MarkProgress(m_out);
    Write(line);
  }

  void Warn(size_t port, const std::string& text) override {
    TrackingOutput::Warn(port, text);
    if (port >= m_views.size()) return;
    nlohmann::json line = Common(m_views[port], "warning", m_now);
    line["message"] = text;
    Write(line);
  }

  void Finish(const std::vector<PortSummary>& rows, int exitCode) override {
    for (size_t i = 0; i < rows.size() && i < m_views.size(); ++i) {
      const PortSummary& row = rows[i];
      nlohmann::json line = Common(m_views[i], "result", m_now);
      line["position"] = row.bytes;
      line["status"] = row.outcome;
      if (!row.loaded) line["message"] = row.outcome;
      line["exit_code"] = row.exitCode;
      line["seconds"] = row.seconds;
      line["line_bytes"] = row.lineBytes;
      line["bytes_per_second"] = row.loaded ? BytesPerSecond(row) : 0.0;
      line["ceiling_share"] = row.loaded ? CeilingShare(row) : 0.0;
      Write(line);
    }
    Write({{"event", "exit"}, {"exit_code", exitCode}, {"elapsed", RoundMs(m_now)}});
  }

 private:
  static nlohmann::json Common(const PortView& view, const char* name, double elapsed) {
    return {{"port", view.name},       {"event", name},        {"position", view.position},
            {"total", view.total},     {"status", view.status}, {"message", nullptr},
            {"elapsed", RoundMs(elapsed)}};
  }

  void Write(const nlohmann::json& line) { m_out << JsonLine(line) << '\n' << std::flush; }
};

}  // namespace

const char* EventName(PortEventKind kind) { return TextOf(kind).name; }

std::unique_ptr<RunOutput> MakeRunOutput(const OutputSettings& settings, std::ostream& out,
                                         std::ostream& err) {
  switch (settings.mode) {
    case OutputMode::Bars:
      return MakeBarsOutput(settings, out, err);
    case OutputMode::Quiet:
      return std::make_unique<QuietOutput>(settings, out, err);
    case OutputMode::Json:
      return std::make_unique<JsonOutput>(settings, out, err);
    case OutputMode::Lines:
      break;
  }
  return std::make_unique<LinesOutput>(settings, out, err);
}

}  // namespace vexel::cli

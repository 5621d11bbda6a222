// JSON Lines for programs reading the output: every event of every port,
// a load's in one shape, a station's with its module and session events
// beside them. Failures also go to the error stream, as in every format.
#include <cmath>
#include <nlohmann/json.hpp>
#include <ostream>

#include "console/output_channel.h"
#include "output/display_text.h"
#include "output/run_views.h"

namespace vexel::cli {
namespace {

// The JSON names of the run events.
constexpr EventWord kEventNames[] = {
    {PortEventKind::Connecting, "connecting"}, {PortEventKind::Connected, "connected"},
    {PortEventKind::Started, "started"},       {PortEventKind::Status, "status"},
    {PortEventKind::Progress, "progress"},     {PortEventKind::Loaded, "loaded"},
    {PortEventKind::Failed, "failed"},         {PortEventKind::Interrupted, "interrupted"},
};

void WriteLine(std::ostream& out, const nlohmann::json& line) {
  out << JsonLine(line) << '\n' << std::flush;
}

nlohmann::json ExitLine(int exitCode, double elapsed) {
  return {{"event", "exit"}, {"exit_code", exitCode}, {"elapsed", RoundMs(elapsed)}};
}

// The figures a port's view holds at @p elapsed, for the lines that are not
// one of its events (a warning, the result).
PortEvent Figures(const PortView& view, double elapsed) {
  PortEvent figures;
  figures.kind = view.kind;
  figures.position = view.position;
  figures.total = view.total;
  figures.status = view.status;
  figures.elapsed = elapsed;
  return figures;
}

class JsonOutput final : public TrackingOutput {
 public:
  using TrackingOutput::TrackingOutput;

  void OnEvent(const PortEvent& event) override {
    Track(event);
    if (event.kind == PortEventKind::Failed) PrintFailure(event);
    if (event.kind == PortEventKind::Progress) MarkProgress(m_out);
    WriteLine(m_out, EventLine(m_views[event.port].name, EventName(event.kind), event));
  }

  void Warn(size_t port, const std::string& text) override {
    TrackingOutput::Warn(port, text);
    if (port >= m_views.size()) return;
    nlohmann::json line = EventLine(m_views[port].name, "warning", Figures(m_views[port], m_now));
    line["message"] = text;
    WriteLine(m_out, line);
  }

  void Finish(const std::vector<PortSummary>& rows, int exitCode) override {
    for (size_t i = 0; i < rows.size() && i < m_views.size(); ++i) {
      const PortSummary& row = rows[i];
      nlohmann::json line = EventLine(m_views[i].name, "result", Figures(m_views[i], m_now));
      line["position"] = row.bytes;
      line["status"] = row.outcome;
      if (!row.loaded) line["message"] = row.outcome;
      line["exit_code"] = row.exitCode;
      line["seconds"] = row.seconds;
      line["line_bytes"] = row.lineBytes;
      line["bytes_per_second"] = row.loaded ? BytesPerSecond(row) : 0.0;
      line["ceiling_share"] = row.loaded ? CeilingShare(row) : 0.0;
      WriteLine(m_out, line);
    }
    WriteLine(m_out, ExitLine(exitCode, m_now));
  }
};

class JsonStation final : public TrackingStation {
 public:
  using TrackingStation::TrackingStation;

  void Started(const StationInfo& info) override {
    TrackingStation::Started(info);
    WriteLine(m_out,
              {{"event", "session"},
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
    WriteLine(m_out, ModuleLine(port, module, "found", elapsed));
  }

  // The run's events as a load writes them, with the module's number.
  void OnEvent(size_t module, const PortEvent& event) override {
    TrackingStation::OnEvent(module, event);
    nlohmann::json line = EventLine(m_views.at(event.port).name, EventName(event.kind), event);
    line["module"] = module;
    if (event.kind == PortEventKind::Progress) MarkProgress(m_out);
    WriteLine(m_out, line);
  }

  void ModuleEnded(size_t port, size_t module, const PortSummary& result,
                   const StationCounts& counts, double elapsed) override {
    TrackingStation::ModuleEnded(port, module, result, counts, elapsed);
    const std::string& failure = m_stations.at(port).failure;
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
    WriteLine(m_out, line);
  }

  void ModuleRemoved(size_t port, size_t module, double elapsed) override {
    TrackingStation::ModuleRemoved(port, module, elapsed);
    WriteLine(m_out, ModuleLine(port, module, "removed", elapsed));
  }

  void PortStopped(size_t port, const std::string& reason, double elapsed) override {
    TrackingStation::PortStopped(port, reason, elapsed);
    PrintStopped(port, reason);
    WriteStopped(port, reason.empty() ? "count" : "port",
                 reason.empty() ? nlohmann::json(nullptr) : nlohmann::json(reason), elapsed);
  }

  void PortAdapter(size_t port, const nlohmann::json& adapter) override {
    if (m_adapters.size() <= port) m_adapters.resize(port + 1);
    m_adapters[port] = adapter;
  }

  void PortEnded(size_t port, const char* why, double elapsed) override {
    WriteStopped(port, why, nullptr, elapsed);
  }

  void PortWarning(size_t port, const std::string& text, double elapsed) override {
    const PortView& run = m_views.at(port);
    m_err << run.shown << ": warning: " << DisplayText(text) << '\n' << std::flush;
    WriteLine(m_out, {{"port", run.name},
                      {"event", "warning"},
                      {"message", text},
                      {"elapsed", RoundMs(elapsed)}});
  }

  void Notice(const char* event, const std::string& text, double elapsed) override {
    m_err << DisplayText(text) << '\n' << std::flush;
    WriteLine(
        m_out,
        {{"event", "session"}, {"state", event}, {"message", text}, {"elapsed", RoundMs(elapsed)}});
  }

  void Finish(const std::vector<StationCounts>& counts, int exitCode, double elapsed) override {
    Now(elapsed);
    StationCounts total;
    for (size_t i = 0; i < counts.size() && i < m_views.size(); ++i) {
      WriteLine(m_out, {{"port", m_views[i].name},
                        {"event", "result"},
                        {"modules", counts[i].modules},
                        {"loaded", counts[i].loaded},
                        {"failed", counts[i].failed},
                        {"elapsed", RoundMs(m_now)}});
      total.modules += counts[i].modules;
      total.loaded += counts[i].loaded;
      total.failed += counts[i].failed;
    }
    WriteLine(m_out, {{"event", "session"},
                      {"state", "ended"},
                      {"modules", total.modules},
                      {"loaded", total.loaded},
                      {"failed", total.failed},
                      {"exit_code", exitCode},
                      {"elapsed", RoundMs(m_now)}});
    WriteLine(m_out, ExitLine(exitCode, m_now));
  }

 private:
  nlohmann::json ModuleLine(size_t port, size_t module, const char* state, double elapsed) {
    nlohmann::json line = {{"port", m_views.at(port).name},
                           {"event", "module"},
                           {"module", module},
                           {"state", state},
                           {"elapsed", RoundMs(elapsed)}};
    if (port < m_adapters.size() && !m_adapters[port].is_null()) line["adapter"] = m_adapters[port];
    return line;
  }

  // Every port ends with one: --count reached, the port failed, or the
  // session ended.
  void WriteStopped(size_t port, const char* reason, const nlohmann::json& message,
                    double elapsed) {
    WriteLine(m_out, {{"port", m_views.at(port).name},
                      {"event", "stopped"},
                      {"reason", reason},
                      {"message", message},
                      {"elapsed", RoundMs(elapsed)}});
  }

  std::vector<nlohmann::json> m_adapters;  // per port; null: nothing known
};

}  // namespace

const char* EventName(PortEventKind kind) { return WordOf(kEventNames, kind, kEventNames[0].word); }

nlohmann::json EventLine(const nlohmann::json& port, const char* name, const PortEvent& event) {
  return {
      {"port", port},
      {"event", name},
      {"position", event.position},
      {"total", event.total},
      {"status", event.status},
      {"message", event.message.empty() ? nlohmann::json(nullptr) : nlohmann::json(event.message)},
      {"elapsed", RoundMs(event.elapsed)}};
}

std::unique_ptr<RunOutput> MakeJsonOutput(const OutputSettings& settings, std::ostream& out,
                                          std::ostream& err) {
  return std::make_unique<JsonOutput>(settings, out, err);
}

std::unique_ptr<StationOutput> MakeJsonStation(const OutputSettings& settings, std::ostream& out,
                                               std::ostream& err) {
  return std::make_unique<JsonStation>(settings, out, err);
}

}  // namespace vexel::cli

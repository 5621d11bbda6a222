// Per-port state shared by the ways of showing a load or a station session,
// and the tracking bases every format builds on. Each format (text, JSON,
// the live view) is one file serving both modes.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "output/run_output.h"
#include "output/station_output.h"

namespace vexel::cli {

struct PortView {
  std::string name;
  std::string shown;  // the name as text lines print it
  PortEventKind kind = PortEventKind::Connecting;
  std::string status;
  uint32_t position = 0;
  uint32_t total = 0;
  double runStart = -1;   // when INIT went out; -1 before
  int printedTenth = -1;  // plain lines: the last tenth printed
  double printedAt = 0;
};

/// 0..100; an empty image counts as done once loaded.
int Percent(const PortView& view);
/// Bytes per second since the run started; 0 before.
double Rate(const PortView& view, double now);
/// "850 B/s", "4.6 kB/s".
std::string FormatRate(double bytesPerSecond);
/// "0:07", "12:30", "1:02:03".
std::string FormatDuration(double seconds);
/// " 40% 4992/12345 bytes<sep>4.6 kB/s<sep>0:02 left".
std::string ProgressText(const PortView& view, double now, const char* separator);
/// "module 3".
std::string ModuleTag(size_t module);

/// Seconds to whole milliseconds, as JSON lines and records carry them.
double RoundMs(double seconds);

/// A format's word for a kind of event, in a table of them.
struct EventWord {
  PortEventKind kind;
  const char* word;
};

/// @p kind's word in @p table, or @p otherwise when it has none.
template <size_t N>
const char* WordOf(const EventWord (&table)[N], PortEventKind kind, const char* otherwise) {
  for (const auto& entry : table) {
    if (entry.kind == kind) return entry.word;
  }
  return otherwise;
}

/// The per-port views of an output, the time it has seen, and what every
/// output writes alike on the error stream.
class TrackedPorts {
 protected:
  TrackedPorts(const OutputSettings& settings, std::ostream& out, std::ostream& err);

  /// Takes @p event's figures into its port's view.
  void Track(const PortEvent& event);
  /// A view of @p port for a new run: its names only.
  void Restart(size_t port);
  void Now(double elapsed);
  /// "PORT: text" on the error stream, after what is waiting on the output.
  void PrintError(size_t port, const std::string& text);
  /// @p text alone on the error stream, after what is waiting on the output.
  void PrintNotice(const std::string& text);
  /// One write per line: standard error is unbuffered, and a trace line is
  /// written for every frame.
  void PrintTrace(const std::string& line);
  std::vector<std::string> PortNames() const;

  std::vector<PortView> m_views;
  std::ostream& m_out;
  std::ostream& m_err;
  double m_now = 0;
};

/// A load's output: the views follow the events of each port.
class TrackingOutput : public RunOutput, protected TrackedPorts {
 public:
  TrackingOutput(const OutputSettings& settings, std::ostream& out, std::ostream& err)
      : TrackedPorts(settings, out, err) {}
  void Tick(double elapsed) override { Now(elapsed); }
  void Trace(const std::string& line) override { PrintTrace(line); }
  void Warn(size_t port, const std::string& text) override;

 protected:
  void PrintFailure(const PortEvent& event) { PrintError(event.port, event.message); }
};

/// Where a station's port is in its cycle of modules.
enum class StationPhase { Waiting, Connecting, Programming, Loaded, Failed, Stopped };

struct StationView {
  StationPhase phase = StationPhase::Waiting;
  size_t module = 0;
  StationCounts counts;
  std::string failure;  // the latest failure with its reason
  std::string stopped;  // why the port stopped; empty for --count
};

/// A station's output: besides the run of the module being programmed (as
/// a load tracks it), each port's phase, module number and counts.
class TrackingStation : public StationOutput, protected TrackedPorts {
 public:
  TrackingStation(const OutputSettings& settings, std::ostream& out, std::ostream& err);
  void Started(const StationInfo& info) override { m_info = info; }
  void PortWarning(size_t port, const std::string& text, double elapsed) override;
  void ModuleFound(size_t port, size_t module, double elapsed) override;
  void OnEvent(size_t module, const PortEvent& event) override;
  void ModuleEnded(size_t port, size_t module, const PortSummary& result,
                   const StationCounts& counts, double elapsed) override;
  void ModuleRemoved(size_t port, size_t module, double elapsed) override;
  void PortStopped(size_t port, const std::string& reason, double elapsed) override;
  void Tick(double elapsed) override { Now(elapsed); }
  void Trace(const std::string& line) override { PrintTrace(line); }
  void Unwritten(const std::string& log, const std::vector<std::string>& lines) override;

 protected:
  /// "PORT: module 3: text" on the error stream.
  void PrintFailure(size_t port, size_t module, const std::string& text);
  /// "PORT: reason" on the error stream; nothing for --count.
  void PrintStopped(size_t port, const std::string& reason);
  /// The image, its size and hash, and the audit log.
  std::string ImageLine() const;

  StationInfo m_info;
  std::vector<StationView> m_stations;  // per port, beside m_views
};

// The formats, each in a file of its own; the text one writes plain lines
// or, with OutputMode::Quiet, results only.
std::unique_ptr<RunOutput> MakeTextOutput(const OutputSettings& settings, std::ostream& out,
                                          std::ostream& err);
std::unique_ptr<StationOutput> MakeTextStation(const OutputSettings& settings, std::ostream& out,
                                               std::ostream& err);
std::unique_ptr<RunOutput> MakeJsonOutput(const OutputSettings& settings, std::ostream& out,
                                          std::ostream& err);
std::unique_ptr<StationOutput> MakeJsonStation(const OutputSettings& settings, std::ostream& out,
                                               std::ostream& err);
std::unique_ptr<RunOutput> MakeLiveOutput(const OutputSettings& settings, std::ostream& out,
                                          std::ostream& err);
std::unique_ptr<StationOutput> MakeLiveStation(const OutputSettings& settings, std::ostream& out,
                                               std::ostream& err);

}  // namespace vexel::cli

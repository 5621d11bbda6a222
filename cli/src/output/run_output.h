// What the loader shows while it runs: per-port events rendered as terminal
// bars, plain lines, results only, or JSON Lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

#include "output/run_summary.h"

namespace vexel::cli {

enum class PortEventKind {
  Connecting,   ///< the port is being opened and probed
  Connected,    ///< the probe window ended with the module's reply
  Started,      ///< INIT is going out; total is the image length
  Status,       ///< a status text from the controller (PROGRAMMING)
  Progress,     ///< position bytes of the image acknowledged
  Loaded,       ///< "MODULE LOADED"
  Failed,       ///< message holds the failure text and its reason
  Interrupted,  ///< Ctrl-C or SIGTERM closed the port
};

/// The JSON name of an event kind ("connecting", "progress", ...).
const char* EventName(PortEventKind kind);

struct PortEvent {
  size_t port = 0;  ///< index in command-line order
  PortEventKind kind = PortEventKind::Connecting;
  uint32_t position = 0;
  uint32_t total = 0;
  std::string status;   ///< the port's latest status text
  std::string message;  ///< Failed only
  double elapsed = 0;   ///< seconds since the loader started
};

/// A run event as --json writes it: port (null before any port is opened),
/// event @p name, position, total, status, message (null when empty) and
/// elapsed (in whole milliseconds).
nlohmann::json EventLine(const nlohmann::json& port, const char* name, const PortEvent& event);

/// Receives the events of every port, on the event loop's thread.
class RunOutput {
 public:
  virtual ~RunOutput() = default;
  virtual void OnEvent(const PortEvent& event) = 0;
  /// Called about ten times a second; terminal bars redraw here.
  virtual void Tick(double elapsed) { (void)elapsed; }
  /// Something the user should fix about port @p port; shown once, on the
  /// error stream as "PORT: warning: text" (--json: also a "warning" event).
  virtual void Warn(size_t port, const std::string& text) { (void)port, (void)text; }
  /// One --trace line (without newline), written to the error stream.
  virtual void Trace(const std::string& line) = 0;
  /// After the last port ended: the summary.
  virtual void Finish(const std::vector<PortSummary>& rows, int exitCode) = 0;
};

enum class OutputMode {
  Bars,   ///< stdout is a terminal: a bar per port redrawn in place
  Lines,  ///< a plain line at each step and every 10% or 5 s of a run
  Quiet,  ///< one result line per port
  Json,   ///< JSON Lines on stdout
};

struct OutputSettings {
  OutputMode mode = OutputMode::Lines;
  std::vector<std::string> ports;  ///< names in command-line order
  int width = 80;                  ///< terminal columns (Bars)
  bool errOnTerminal = false;      ///< stderr shares the bars' terminal (Bars)
};

/// Failures go to @p err as "PORT: message" in every mode; everything else
/// to @p out.
std::unique_ptr<RunOutput> MakeRunOutput(const OutputSettings& settings, std::ostream& out,
                                         std::ostream& err);

}  // namespace vexel::cli

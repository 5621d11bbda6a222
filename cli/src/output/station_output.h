// What a station session shows while modules come and go: a live view with
// a line per port on a terminal, plain lines, results only, or JSON Lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "output/run_output.h"
#include "output/run_summary.h"

namespace vexel::cli {

struct StationInfo {
  std::string image;
  uint64_t size = 0;
  std::string sha256;  ///< lower-case hex
  std::string log;     ///< the audit log's path; empty when none
  size_t count = 0;    ///< modules per port; 0 = until interrupted
};

/// Calls come on the event loop's thread, in the order things happen.
class StationOutput {
 public:
  virtual ~StationOutput() = default;
  virtual void Started(const StationInfo& info) = 0;
  /// Module @p module answered a probe on @p port; it is being connected.
  virtual void ModuleFound(size_t port, size_t module, double elapsed) = 0;
  /// The run events of the module being programmed, as a load reports them.
  virtual void OnEvent(size_t module, const PortEvent& event) = 0;
  /// The module's run ended: loaded, failed or interrupted.
  virtual void ModuleEnded(size_t port, size_t module, const PortSummary& result,
                           const StationCounts& counts, double elapsed) = 0;
  /// Its probes stopped being answered: the module was taken off.
  virtual void ModuleRemoved(size_t port, size_t module, double elapsed) = 0;
  /// The port takes no more modules: --count reached (@p reason empty), or
  /// why it cannot go on.
  virtual void PortStopped(size_t port, const std::string& reason, double elapsed) = 0;
  /// What is known of the adapter behind @p port (driver, usb, serial), or
  /// null: --json adds it to the port's module events.
  virtual void PortAdapter(size_t port, const nlohmann::json& adapter) {
    (void)port, (void)adapter;
  }
  /// The session ended while the port still took modules: @p why
  /// "interrupted" or "log-failed". Only --json tells it (its `stopped`
  /// event); the other outputs say it once for the session.
  virtual void PortEnded(size_t port, const char* why, double elapsed) {
    (void)port, (void)why, (void)elapsed;
  }
  /// A warning about @p port's adapter (its latency timer), once per port
  /// and session: "PORT: warning: text" on the error stream, and with
  /// --json a "warning" event as a load writes it.
  virtual void PortWarning(size_t port, const std::string& text, double elapsed) = 0;
  /// Something about the whole session: @p event "image_changed" or
  /// "log_failed", and its text for people.
  virtual void Notice(const char* event, const std::string& text, double elapsed) = 0;
  /// Audit records that could not be written to the log, as JSON lines, so
  /// that they are not lost: written whole to the error stream.
  virtual void Unwritten(const std::string& log, const std::vector<std::string>& lines) = 0;
  /// About ten times a second; the live view redraws here.
  virtual void Tick(double elapsed) { (void)elapsed; }
  /// One --trace line (without newline), written to the error stream.
  virtual void Trace(const std::string& line) = 0;
  virtual void Finish(const std::vector<StationCounts>& counts, int exitCode, double elapsed) = 0;
};

/// Failures go to @p err as "PORT: module N: message" in every mode;
/// everything else to @p out.
std::unique_ptr<StationOutput> MakeStationOutput(const OutputSettings& settings, std::ostream& out,
                                                 std::ostream& err);

}  // namespace vexel::cli

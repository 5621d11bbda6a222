// What the simulator program tells its user, one line per event on stdout:
// plain text for people, or one JSON object per line for scripts.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/module_simulator.h"

namespace vexel::sim {

/// Why the program ended, as reported in the end event.
enum class EndReason { Signal, Count, HangUp, LineLost };

struct ImageReport {
  size_t index = 0;  ///< 1 for the first image flashed
  size_t length = 0;
  std::string sha256;
  std::string file;  ///< where --out wrote it; empty without --out
};

class EventReport {
 public:
  /// @p startNs: the monotonic time the event times count from.
  EventReport(std::FILE* out, bool json, int64_t startNs);

  void Ready(const std::string& path, const std::string& link, const std::vector<Fault>& faults);
  void Request(int64_t nowNs, const char* name, const std::vector<uint8_t>& frame, int step);
  /// A reply written, or @p dropped because no loader had the line open.
  void Reply(int64_t nowNs, const std::vector<uint8_t>& bytes, bool dropped = false);
  void Image(int64_t nowNs, const ImageReport& image);
  void LoaderViolation(int64_t nowNs, const Violation& violation);
  /// A loader opened the line (@p open), or the last one closed it.
  void LineState(int64_t nowNs, bool open);
  void HangUp(int64_t nowNs, int step);
  void End(int64_t nowNs, EndReason reason, size_t images, size_t violations, int status);

 private:
  void Line(const std::string& text);
  double Ms(int64_t nowNs) const;

  std::FILE* m_out;
  bool m_json;
  int64_t m_startNs;
};

/// The name of a violation kind as written in reports, e.g. "OversizedChunk".
const char* ViolationName(ViolationKind kind);
/// The name of an end reason as written in reports, e.g. "signal".
const char* EndReasonName(EndReason reason);

}  // namespace vexel::sim

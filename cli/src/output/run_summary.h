// Per-port figures of a run, and the summary tables a load and a station
// session print at the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/frame_name.h"

namespace vexel::cli {

/// Counts the bytes of one exchange on the line, requests and replies, from
/// INIT to the FLASH ACK, and times it.
class LineTally {
 public:
  /// @p name is what the request is (RequestName), @p now in seconds.
  void OnSent(FrameName name, size_t length, double now);
  void OnReceived(FrameName name, size_t length, double now);

  bool Started() const { return m_started; }
  bool Complete() const { return m_complete; }
  uint64_t LineBytes() const { return m_lineBytes; }
  /// INIT to the FLASH ACK when complete, else INIT to @p now; 0 before INIT.
  double Seconds(double now) const;

 private:
  bool m_started = false;
  bool m_counting = false;
  bool m_flashSent = false;
  bool m_complete = false;
  uint64_t m_lineBytes = 0;
  double m_start = 0;
  double m_end = 0;
};

struct PortSummary {
  std::string port;
  std::string outcome;  ///< "MODULE LOADED", the failure text, or "interrupted"
  int exitCode = 0;
  bool loaded = false;
  bool started = false;    ///< INIT went out
  uint32_t bytes = 0;      ///< image bytes acknowledged
  double seconds = 0;      ///< INIT to the FLASH ACK, or to the end of the port
  uint64_t lineBytes = 0;  ///< request and reply bytes from INIT to the FLASH ACK
};

/// Image bytes per second; 0 when no time passed.
double BytesPerSecond(const PortSummary& row);
/// How close the exchange came to the line's limit: the time its line bytes
/// need at 57600 baud 8E2, divided by the time it took (1.0 = the ceiling).
double CeilingShare(const PortSummary& row);

/// The table (PORT, RESULT, BYTES, SECONDS, BYTES/S, OF CEILING) and a line
/// with the count of loaded modules and the exit status.
std::string FormatSummary(const std::vector<PortSummary>& rows, int exitCode);

/// One port's tally over a station session.
struct StationCounts {
  size_t modules = 0;  ///< programming attempts: loaded + failed
  size_t loaded = 0;
  size_t failed = 0;
  std::string last;  ///< the latest module's outcome text
};

/// A station session's table at the end: PORT, MODULES, LOADED, FAILED,
/// LAST RESULT, a total row, and a closing line with the exit status.
std::string FormatStationSummary(const std::vector<std::string>& ports,
                                 const std::vector<StationCounts>& counts, int exitCode,
                                 double elapsed);

}  // namespace vexel::cli

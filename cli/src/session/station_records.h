// The audit records of a station session: every record says when, on which
// host, in which session and with which image; the kinds add their own
// fields (see the manual page's AUDIT LOG section for the format).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "output/station_output.h"
#include "port_list/port_list.h"
#include "session/image_watch.h"

namespace vexel::cli {

/// What a "module" record tells of one module's run.
struct ModuleFigures {
  std::string outcome;
  int exitCode = 0;
  uint64_t bytes = 0;
  double seconds = 0;         ///< rounded to the millisecond
  double bytesPerSecond = 0;  ///< whole bytes; 0 unless loaded
};

/// What is known of the adapter behind a port: driver, usb, serial, the
/// fields the system does not know left out; null when nothing is known.
nlohmann::json AdapterRecord(const SerialPortInfo& info);

class StationRecords final {
 public:
  /// Names the session by its start time (now, UTC) and this process, for
  /// image @p image of @p size bytes.
  void Begin(std::string image, size_t size, std::string sha256);
  const std::string& Sha256() const { return m_sha256; }

  nlohmann::json SessionStart(const std::vector<std::string>& ports, size_t count) const;
  nlohmann::json SessionEnd(const char* reason, const StationCounts& total, int exitCode,
                            double seconds) const;
  /// @p adapter as AdapterRecord gave it; left out when null.
  nlohmann::json Port(const char* kind, const std::string& port,
                      const nlohmann::json& adapter) const;
  nlohmann::json Module(const std::string& port, const nlohmann::json& adapter, size_t module,
                        const ModuleFigures& figures) const;
  nlohmann::json PortStopped(const std::string& port, const std::string& outcome,
                             int exitCode) const;
  nlohmann::json ImageChanged(const FileStamp& now) const;

 private:
  nlohmann::json Record(const char* kind) const;

  std::string m_startedAt;  // UTC
  std::string m_session;    // "start time/process id"
  std::string m_host;
  std::string m_image;
  size_t m_size = 0;
  std::string m_sha256;
};

}  // namespace vexel::cli

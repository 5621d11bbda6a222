#include "session/station_records.h"

#include "audit/audit_log.h"
#include "cli/exit_codes.h"

namespace vexel::cli {
namespace {

std::string Now() { return UtcTimestamp(std::chrono::system_clock::now()); }

}  // namespace

// A record names the fixture as well as the port: what is known of the
// adapter, fields the system does not know left out.
nlohmann::json AdapterRecord(const SerialPortInfo& info) {
  nlohmann::json adapter = nlohmann::json::object();
  if (!info.driver.empty()) adapter["driver"] = info.driver;
  if (!info.usbId.empty()) adapter["usb"] = info.usbId;
  if (!info.serial.empty()) adapter["serial"] = info.serial;
  return adapter.empty() ? nlohmann::json() : adapter;
}

void StationRecords::Begin(std::string image, size_t size, std::string sha256) {
  m_startedAt = Now();
  m_session = m_startedAt + "/" + std::to_string(ProcessId());
  m_host = HostName();
  m_image = std::move(image);
  m_size = size;
  m_sha256 = std::move(sha256);
}

nlohmann::json StationRecords::SessionStart(const std::vector<std::string>& ports,
                                            size_t count) const {
  nlohmann::json record = Record("session_start");
  record["time"] = m_startedAt;  // the session is named by its start time and process
  record["ports"] = ports;
  record["count"] = count;
  return record;
}

nlohmann::json StationRecords::SessionEnd(const char* reason, const StationCounts& total,
                                          int exitCode, double seconds) const {
  nlohmann::json record = Record("session_end");
  record["reason"] = reason;
  record["modules"] = total.modules;
  record["loaded"] = total.loaded;
  record["failed"] = total.failed;
  record["exit_code"] = exitCode;
  record["seconds"] = seconds;
  return record;
}

nlohmann::json StationRecords::Port(const char* kind, const std::string& port,
                                    const nlohmann::json& adapter) const {
  nlohmann::json record = Record(kind);
  record["port"] = port;
  if (!adapter.is_null()) record["adapter"] = adapter;
  return record;
}

nlohmann::json StationRecords::Module(const std::string& port, const nlohmann::json& adapter,
                                      size_t module, const ModuleFigures& figures) const {
  nlohmann::json record = Port("module", port, adapter);
  record["module"] = module;
  record["outcome"] = figures.outcome;
  record["exit_code"] = figures.exitCode;
  record["exit_class"] = ExitClassName(figures.exitCode);
  record["bytes"] = figures.bytes;
  record["seconds"] = figures.seconds;
  record["bytes_per_second"] = figures.bytesPerSecond;
  return record;
}

nlohmann::json StationRecords::PortStopped(const std::string& port, const std::string& outcome,
                                           int exitCode) const {
  nlohmann::json record = Record("port_stopped");
  record["port"] = port;
  record["outcome"] = outcome;
  record["exit_code"] = exitCode;
  record["exit_class"] = ExitClassName(exitCode);
  return record;
}

nlohmann::json StationRecords::ImageChanged(const FileStamp& now) const {
  nlohmann::json record = Record("image_changed");
  record["exists"] = now.exists;
  record["size_now"] = now.exists ? nlohmann::json(now.size) : nlohmann::json(nullptr);
  return record;
}

// What every record carries: when, where, and which image.
nlohmann::json StationRecords::Record(const char* kind) const {
  return {{"record", kind},   {"time", Now()},  {"session", m_session}, {"host", m_host},
          {"image", m_image}, {"size", m_size}, {"sha256", m_sha256}};
}

}  // namespace vexel::cli

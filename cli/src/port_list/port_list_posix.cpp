// Linux's serial ports, from sysfs, without opening any of them.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

#include "output/text_table.h"
#include "port_list/port_columns.h"
#include "port_list/port_list.h"
#include "runner/adapter_latency.h"
#include "serial/port_names.h"

namespace vexel::cli {
namespace {

namespace fs = std::filesystem;

// First line of a sysfs attribute, or empty when it cannot be read.
std::string ReadAttribute(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
  return line;
}

// The 8250 driver registers every slot it may have; a slot whose probe found
// no UART reports type 0 and cannot be opened usefully.
bool IsAbsentUart(const fs::path& ttyDir) {
  std::error_code error;
  if (!fs::exists(ttyDir / "type", error)) return false;
  return ReadAttribute(ttyDir / "type") == "0";
}

// The by-id link whose target is /dev/<name>, looked up in @p links.
std::string FindByIdLink(const std::vector<fs::path>& links, const std::string& name) {
  for (const auto& link : links) {
    std::error_code error;
    const fs::path target = fs::read_symlink(link, error);
    if (!error && target.filename() == name) return "/dev/serial/by-id/" + link.filename().string();
  }
  return {};
}

std::vector<fs::path> ListByIdLinks(const fs::path& root) {
  std::vector<fs::path> links;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(root / "dev/serial/by-id", error)) {
    links.push_back(entry.path());
  }
  std::sort(links.begin(), links.end());
  return links;
}

// USB identity from the nearest parent of the tty's device that is a USB
// device (the directory holding idVendor and idProduct).
void FillUsbIdentity(const fs::path& root, const fs::path& ttyDir, SerialPortInfo& info) {
  std::error_code error;
  fs::path dir = fs::canonical(ttyDir / "device", error);
  if (error) return;
  const fs::path top = fs::canonical(root / "sys", error);
  if (error) return;
  for (; dir.has_relative_path() && dir != top; dir = dir.parent_path()) {
    if (fs::exists(dir / "idVendor", error) && fs::exists(dir / "idProduct", error)) {
      info.usbId = ReadAttribute(dir / "idVendor") + ":" + ReadAttribute(dir / "idProduct");
      info.serial = ReadAttribute(dir / "serial");
      info.product = ReadAttribute(dir / "product");
      return;
    }
  }
}

// The driver bound to the tty's device, and the latency timer of the
// adapters whose driver has one.
void FillDriver(const fs::path& root, const fs::path& ttyDir, SerialPortInfo& info) {
  std::error_code error;
  const fs::path driver = fs::read_symlink(ttyDir / "device/driver", error);
  if (!error) info.driver = driver.filename().string();
  const int ms = ReadLatencyTimer(info.device, root.string());
  if (ms >= 0) info.latency = std::to_string(ms) + " ms";
}

}  // namespace

std::vector<SerialPortInfo> FindSerialPorts(const std::string& root) {
  const fs::path base(root);
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(base / "sys/class/tty", error)) {
    const fs::path dir = entry.path();
    if (!fs::exists(dir / "device", error) || IsAbsentUart(dir)) continue;
    names.push_back(dir.filename().string());
  }
  std::sort(names.begin(), names.end(), NaturalLess);
  const auto links = ListByIdLinks(base);
  std::vector<SerialPortInfo> ports;
  for (const auto& name : names) {
    SerialPortInfo info;
    info.device = "/dev/" + name;
    info.byId = FindByIdLink(links, name);
    FillUsbIdentity(base, base / "sys/class/tty" / name, info);
    FillDriver(base, base / "sys/class/tty" / name, info);
    ports.push_back(info);
  }
  return ports;
}

SerialPortInfo DescribePort(const std::string& port, const std::string& root) {
  SerialPortInfo info;
  info.device = DeviceIdentity(port);
  const std::string name = fs::path(info.device).filename().string();
  const fs::path ttyDir = fs::path(root) / "sys/class/tty" / name;
  std::error_code error;
  if (name.empty() || !fs::exists(ttyDir / "device", error)) return info;
  FillUsbIdentity(fs::path(root), ttyDir, info);
  FillDriver(fs::path(root), ttyDir, info);
  return info;
}

std::vector<PortColumn> PortTableColumns() {
  return {{"DEVICE", &SerialPortInfo::device},   {"BY-ID", &SerialPortInfo::byId},
          {"USB", &SerialPortInfo::usbId},       {"SERIAL", &SerialPortInfo::serial},
          {"PRODUCT", &SerialPortInfo::product}, {"DRIVER", &SerialPortInfo::driver},
          {"LATENCY", &SerialPortInfo::latency}};
}

// Two names of one device (COM1 and its path, a by-id link and its target)
// are the same file once the links are followed.
std::string DeviceIdentity(const std::string& port) {
  const std::string resolved = ResolvePortName(port);
  std::error_code error;
  std::string device = fs::weakly_canonical(resolved, error).string();
  return error || device.empty() ? resolved : device;
}

}  // namespace vexel::cli

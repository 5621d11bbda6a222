// Windows's serial ports: the COM ports the serial drivers registered under
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, named as the device manager names them,
// with the latency timer of FTDI adapters. The registry is only read.
#include <windows.h>
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <cwctype>
#include <map>

#include "output/text_table.h"
#include "port_list/port_columns.h"
#include "port_list/port_list.h"
#include "runner/adapter_latency.h"
#include "serial/port_names.h"
#include "winsupport/unique_handle.h"
#include "winsupport/utf16.h"

namespace vexel::cli {
namespace {

// A registry string may lack its terminating zero; everything from the first
// zero on is dropped.
std::wstring TrimmedString(const std::wstring& raw) {
  return raw.substr(0, std::min(raw.size(), raw.find(L'\0')));
}

class RegistryKey {
 public:
  RegistryKey(HKEY parent, const wchar_t* path) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(parent, path, 0, KEY_READ, &key) == ERROR_SUCCESS) m_key.reset(key);
  }
  explicit RegistryKey(HKEY key) : m_key(key == INVALID_HANDLE_VALUE ? nullptr : key) {}
  HKEY get() const { return m_key.get(); }

  std::wstring String(const wchar_t* name) const {
    wchar_t value[256];
    DWORD size = sizeof value;
    DWORD type = 0;
    if (m_key == nullptr ||
        ::RegQueryValueExW(m_key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(value),
                           &size) != ERROR_SUCCESS ||
        type != REG_SZ) {
      return {};
    }
    return TrimmedString(std::wstring(value, size / sizeof(wchar_t)));
  }

  bool Dword(const wchar_t* name, DWORD& value) const {
    DWORD size = sizeof value;
    DWORD type = 0;
    return m_key != nullptr &&
           ::RegQueryValueExW(m_key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value),
                              &size) == ERROR_SUCCESS &&
           type == REG_DWORD;
  }

  // The names of the key's subkeys.
  std::vector<std::wstring> Subkeys() const {
    std::vector<std::wstring> names;
    for (DWORD index = 0; m_key != nullptr; ++index) {
      wchar_t name[256];
      DWORD length = 256;
      if (::RegEnumKeyExW(m_key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS) {
        break;
      }
      names.emplace_back(name, length);
    }
    return names;
  }

 private:
  UniqueRegistryKey m_key;
};

// The COM names in SERIALCOMM: one value per port, its data the name.
std::vector<std::wstring> RegisteredComPorts() {
  std::vector<std::wstring> names;
  RegistryKey key(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM");
  if (key.get() == nullptr) return names;
  for (DWORD index = 0;; ++index) {
    wchar_t valueName[256];
    DWORD nameLength = 256;
    wchar_t data[64];
    DWORD dataSize = sizeof data;
    DWORD type = 0;
    const LONG result = ::RegEnumValueW(key.get(), index, valueName, &nameLength, nullptr, &type,
                                        reinterpret_cast<BYTE*>(data), &dataSize);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS || type != REG_SZ) continue;
    names.push_back(TrimmedString(std::wstring(data, dataSize / sizeof(wchar_t))));
  }
  return names;
}

std::wstring DeviceProperty(HDEVINFO devices, SP_DEVINFO_DATA& device, DWORD property) {
  wchar_t value[512];
  DWORD type = 0;
  if (!::SetupDiGetDeviceRegistryPropertyW(devices, &device, property, &type,
                                           reinterpret_cast<BYTE*>(value), sizeof value, nullptr) ||
      (type != REG_SZ && type != REG_MULTI_SZ)) {
    return {};
  }
  value[511] = L'\0';
  return value;  // of a multi-string, its first entry
}

// "USB\VID_0403&PID_6001&REV_0600" -> "0403:6001"; empty when not on USB.
std::string UsbIdentity(const std::wstring& hardwareId) {
  const size_t vid = hardwareId.find(L"VID_");
  const size_t pid = hardwareId.find(L"PID_");
  if (vid == std::wstring::npos || pid == std::wstring::npos) return {};
  std::string id = Narrow(hardwareId.substr(vid + 4, 4) + L":" + hardwareId.substr(pid + 4, 4));
  std::transform(id.begin(), id.end(), id.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return id;
}

// The FTDI driver keeps each adapter's latency timer (in ms, 16 unless
// changed in the device manager) beside the COM name it gave the adapter:
// FTDIBUS\<device>\<instance>\Device Parameters, values PortName and
// LatencyTimer. By COM name.
std::map<std::wstring, DWORD> FtdiLatencyTimers() {
  std::map<std::wstring, DWORD> timers;
  const std::wstring bus = L"SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS";
  RegistryKey devices(HKEY_LOCAL_MACHINE, bus.c_str());
  for (const auto& device : devices.Subkeys()) {
    RegistryKey instances(devices.get(), device.c_str());
    for (const auto& instance : instances.Subkeys()) {
      RegistryKey parameters(instances.get(), (instance + L"\\Device Parameters").c_str());
      const std::wstring name = parameters.String(L"PortName");
      DWORD latency = 0;
      if (!name.empty() && parameters.Dword(L"LatencyTimer", latency)) timers[name] = latency;
    }
  }
  return timers;
}

// What the device manager knows of each present port, by COM name.
struct DeviceListCloser {
  void operator()(HDEVINFO devices) const { ::SetupDiDestroyDeviceInfoList(devices); }
};
using UniqueDeviceList = std::unique_ptr<void, DeviceListCloser>;

std::map<std::wstring, SerialPortInfo> DescribedPorts() {
  std::map<std::wstring, SerialPortInfo> described;
  HDEVINFO devices = ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  if (devices == INVALID_HANDLE_VALUE) return described;
  UniqueDeviceList owned(devices);
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD index = 0; ::SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
    RegistryKey key(
        ::SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ));
    const std::wstring name = key.String(L"PortName");
    if (name.empty()) continue;
    SerialPortInfo& info = described[name];
    info.product = Narrow(DeviceProperty(devices, device, SPDRP_FRIENDLYNAME));
    info.usbId = UsbIdentity(DeviceProperty(devices, device, SPDRP_HARDWAREID));
    info.driver = Narrow(DeviceProperty(devices, device, SPDRP_SERVICE));
  }
  return described;
}

}  // namespace

std::vector<SerialPortInfo> FindSerialPorts(const std::string&) {
  const auto described = DescribedPorts();
  const auto latencies = FtdiLatencyTimers();
  std::vector<SerialPortInfo> ports;
  for (const auto& name : RegisteredComPorts()) {
    auto it = described.find(name);
    SerialPortInfo info = it != described.end() ? it->second : SerialPortInfo{};
    info.device = Narrow(name);
    auto latency = latencies.find(name);
    if (latency != latencies.end()) info.latency = std::to_string(latency->second) + " ms";
    ports.push_back(info);
  }
  std::sort(ports.begin(), ports.end(), [](const SerialPortInfo& a, const SerialPortInfo& b) {
    return NaturalLess(a.device, b.device);
  });
  return ports;
}

SerialPortInfo DescribePort(const std::string& port, const std::string&) {
  const std::string identity = DeviceIdentity(port);
  for (const SerialPortInfo& info : FindSerialPorts()) {
    if (DeviceIdentity(info.device) == identity) return info;
  }
  SerialPortInfo unknown;
  unknown.device = port;
  return unknown;
}

// Windows gives no by-id links nor USB serial numbers; the device manager's
// friendly name ("USB Serial Port (COM3)") is the port's name for users.
// LATENCY is an FTDI adapter's latency timer: above 1 ms it holds each short
// reply that long.
std::vector<PortColumn> PortTableColumns() {
  return {{"DEVICE", &SerialPortInfo::device},
          {"USB", &SerialPortInfo::usbId},
          {"LATENCY", &SerialPortInfo::latency},
          {"NAME", &SerialPortInfo::product}};
}

int ReadLatencyTimer(const std::string& device, const std::string&) {
  std::string name = DeviceIdentity(device);
  if (name.rfind("\\\\.\\", 0) == 0) name.erase(0, 4);
  const auto timers = FtdiLatencyTimers();
  const auto found = timers.find(std::wstring(name.begin(), name.end()));  // COM names are ASCII
  return found == timers.end() ? -1 : static_cast<int>(found->second);
}

// Device names are case-blind, and COMn is \\.\COMn.
std::string DeviceIdentity(const std::string& port) {
  std::string device = ResolvePortName(port);
  std::transform(device.begin(), device.end(), device.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return device;
}

}  // namespace vexel::cli

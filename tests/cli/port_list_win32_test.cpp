#include <windows.h>
#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "port_list/port_list.h"
#include "runner/adapter_latency.h"

namespace vexel::cli {
namespace {

// Windows gives a friendly name and, on USB, the identity; no by-id links
// and no serial numbers, so the table has no columns for them.
TEST(PortListWin32, TableShowsTheNamesTheSystemGives) {
  const std::vector<SerialPortInfo> ports = {
      {"COM3", "", "0403:6001", "", "USB Serial Port (COM3)", "FTDIBUS", "16 ms"},
      {"COM10", "", "", "", "", "", ""},
  };
  EXPECT_EQ(FormatPortTable(ports),
            "DEVICE  USB        LATENCY  NAME\n"
            "COM3    0403:6001  16 ms    USB Serial Port (COM3)\n"
            "COM10   -          -        -\n");
  EXPECT_EQ(FormatPortTable({}), "No serial ports found.\n");
}

TEST(PortListWin32, TwoNamesOfOnePortHaveOneIdentity) {
  EXPECT_EQ(DeviceIdentity("com1"), "\\\\.\\COM1");
  EXPECT_EQ(DeviceIdentity("\\\\.\\Com12"), "\\\\.\\COM12");
  EXPECT_NE(DeviceIdentity("COM1"), DeviceIdentity("COM11"));
}

// FTDI adapters as their driver registers them, made in the test's own Wine
// prefix (the loader only reads them): the latency timer of each adapter
// whose COM name is a port here is listed with that port.
class FtdiAdapters : public ::testing::Test {
 protected:
  static constexpr const wchar_t* kBus = L"SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS";
  static constexpr const wchar_t* kDevice = L"VID_0403+PID_6001+VXTEST01A";

  void TearDown() override {
    HKEY bus = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kBus, 0, KEY_ALL_ACCESS, &bus) == ERROR_SUCCESS) {
      ::RegDeleteTreeW(bus, kDevice);
      ::RegCloseKey(bus);
    }
  }

  // Registers instance @p instance of the test adapter as @p port.
  bool AddAdapter(const wchar_t* instance, const wchar_t* port, DWORD latency) {
    const std::wstring path = std::wstring(kBus) + L"\\" + kDevice + L"\\" + instance +
                              L"\\Device Parameters";
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                          &key, nullptr) != ERROR_SUCCESS) {
      return false;
    }
    const auto bytes = static_cast<DWORD>((std::wcslen(port) + 1) * sizeof(wchar_t));
    const bool written = ::RegSetValueExW(key, L"PortName", 0, REG_SZ,
                                          reinterpret_cast<const BYTE*>(port),
                                          bytes) == ERROR_SUCCESS &&
                         ::RegSetValueExW(key, L"LatencyTimer", 0, REG_DWORD,
                                          reinterpret_cast<const BYTE*>(&latency),
                                          sizeof latency) == ERROR_SUCCESS;
    ::RegCloseKey(key);
    return written;
  }

  static std::string LatencyOf(const std::vector<SerialPortInfo>& ports, const std::string& name) {
    for (const auto& port : ports) {
      if (port.device == name) return port.latency;
    }
    return "not listed";
  }
};

TEST_F(FtdiAdapters, EachPortShowsItsAdaptersLatencyTimer) {
  if (!AddAdapter(L"0000", L"COM5", 16) || !AddAdapter(L"0001", L"COM6", 1) ||
      !AddAdapter(L"0002", L"COM99", 2)) {
    GTEST_SKIP() << "cannot register an adapter here (needs the right to write HKLM)";
  }
  const std::vector<SerialPortInfo> ports = FindSerialPorts();
  if (LatencyOf(ports, "COM5") == "not listed" || LatencyOf(ports, "COM1") == "not listed") {
    GTEST_SKIP() << "COM1 and COM5 are not ports here (scripts/test-windows.sh maps them)";
  }
  EXPECT_EQ(LatencyOf(ports, "COM5"), "16 ms");
  EXPECT_EQ(LatencyOf(ports, "COM6"), "1 ms");
  EXPECT_EQ(LatencyOf(ports, "COM1"), "") << "not an FTDI adapter";
  EXPECT_EQ(LatencyOf(ports, "COM99"), "not listed") << "an adapter not plugged in";
}

// The loader's warning on opening such a port names the device manager's
// setting; at 1 ms, or on a port that is no FTDI adapter, it says nothing.
TEST_F(FtdiAdapters, ALatencyTimerAboveOneMillisecondIsWarnedOf) {
  if (!AddAdapter(L"0000", L"COM5", 16) || !AddAdapter(L"0001", L"COM6", 1)) {
    GTEST_SKIP() << "cannot register an adapter here (needs the right to write HKLM)";
  }
  EXPECT_EQ(LatencyWarning("\\\\.\\com5"),
            "the adapter's latency timer is 16 ms, so every reply waits up to that long; set it "
            "to 1 in the device manager: the port's Properties, Port Settings, Advanced..., "
            "Latency Timer (msec)");
  EXPECT_EQ(ReadLatencyTimer("COM5"), 16);
  EXPECT_EQ(LatencyWarning("COM6"), "");
  EXPECT_EQ(LatencyWarning("COM7"), "");
  EXPECT_EQ(ReadLatencyTimer("COM7"), -1);
}

}  // namespace
}  // namespace vexel::cli

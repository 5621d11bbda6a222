#include <gtest/gtest.h>

#include "cli/port_list.h"

namespace vexel::cli {
namespace {

// Windows gives a friendly name and, on USB, the identity; no by-id links
// and no serial numbers, so the table has no columns for them.
TEST(PortListWin32, TableShowsTheNamesTheSystemGives) {
  const std::vector<SerialPortInfo> ports = {
      {"COM3", "", "0403:6001", "", "USB Serial Port (COM3)", "FTDIBUS", ""},
      {"COM10", "", "", "", "", "", ""},
  };
  EXPECT_EQ(FormatPortTable(ports),
            "DEVICE  USB        NAME\n"
            "COM3    0403:6001  USB Serial Port (COM3)\n"
            "COM10   -          -\n");
  EXPECT_EQ(FormatPortTable({}), "No serial ports found.\n");
}

TEST(PortListWin32, TwoNamesOfOnePortHaveOneIdentity) {
  EXPECT_EQ(DeviceIdentity("com1"), "\\\\.\\COM1");
  EXPECT_EQ(DeviceIdentity("\\\\.\\Com12"), "\\\\.\\COM12");
  EXPECT_NE(DeviceIdentity("COM1"), DeviceIdentity("COM11"));
}

}  // namespace
}  // namespace vexel::cli

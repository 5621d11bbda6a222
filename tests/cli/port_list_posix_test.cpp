#include "cli/port_list.h"

#include <gtest/gtest.h>

#include "temp_dir.h"

namespace vexel::cli {

// Found by argument lookup, so beside the type's namespace, not in an unnamed one.
bool operator==(const SerialPortInfo& a, const SerialPortInfo& b) {
  return a.device == b.device && a.byId == b.byId && a.usbId == b.usbId &&
         a.serial == b.serial && a.product == b.product && a.driver == b.driver;
}

void PrintTo(const SerialPortInfo& p, std::ostream* os) {
  *os << "{" << p.device << "|" << p.byId << "|" << p.usbId << "|" << p.serial << "|"
      << p.product << "|" << p.driver << "}";
}

namespace {

using test::TempDir;

// A sysfs tree shaped like the kernel's: /sys/class/tty/NAME links into
// /sys/devices, and each port's "device" link points at the device under it.
class FakeSysfs {
 public:
  explicit FakeSysfs(const TempDir& root) : m_root(root) {}

  // A UART slot of the 8250 driver with its "type" (0: no UART found).
  void Uart(const std::string& name, int type) {
    const std::string dev = "sys/devices/platform/serial8250/serial8250:0/serial8250:0." + name;
    Tty(dev, name, "../../../serial8250:0." + name);
    m_root.Write(dev + "/tty/" + name + "/type", std::to_string(type) + "\n");
  }

  // A USB serial adapter: the USB device dir holds the identity, the tty
  // hangs below its interface.
  void Usb(const std::string& name, const std::string& usbDir, const std::string& vendor,
           const std::string& product, const std::string& serial, const std::string& text,
           const std::string& driver = "ftdi_sio") {
    const std::string dev = "sys/devices/pci0000:00/0000:00:14.0/usb1/" + usbDir;
    m_root.Write(dev + "/idVendor", vendor + "\n");
    m_root.Write(dev + "/idProduct", product + "\n");
    if (!serial.empty()) m_root.Write(dev + "/serial", serial + "\n");
    m_root.Write(dev + "/product", text + "\n");
    Tty(dev + "/" + usbDir + ":1.0", name, "../../../" + usbDir + ":1.0");
    m_root.Link(dev + "/" + usbDir + ":1.0/driver", "../../../../../../bus/usb/drivers/" + driver);
  }

  // A tty with no device behind it (virtual consoles, ptmx).
  void Virtual(const std::string& name) {
    m_root.MakeDir("sys/devices/virtual/tty/" + name);
    m_root.Write("sys/devices/virtual/tty/" + name + "/dev", "4:1\n");
    m_root.Link("sys/class/tty/" + name, "../../devices/virtual/tty/" + name);
  }

  void ById(const std::string& link, const std::string& name) {
    m_root.Link("dev/serial/by-id/" + link, "../../" + name);
  }

 private:
  void Tty(const std::string& deviceDir, const std::string& name, const std::string& deviceLink) {
    const std::string ttyDir = deviceDir + "/tty/" + name;
    m_root.Write(ttyDir + "/dev", "188:0\n");
    m_root.Link(ttyDir + "/device", deviceLink);
    m_root.Link("sys/class/tty/" + name, "../../" + ttyDir.substr(4));
  }

  const TempDir& m_root;
};

TEST(PortList, FindsRealPortsWithTheirUsbIdentityAndSkipsTheRest) {
  TempDir root;
  FakeSysfs sysfs(root);
  sysfs.Uart("ttyS0", 4);
  sysfs.Uart("ttyS1", 0);  // reserved slot, no UART
  sysfs.Uart("ttyS10", 4);
  sysfs.Uart("ttyS2", 4);
  sysfs.Usb("ttyUSB0", "1-2", "0403", "6001", "A50285BI", "FT232R USB UART");
  sysfs.Usb("ttyACM0", "1-3", "2341", "0043", "", "Arduino Uno", "cdc_acm");
  sysfs.Virtual("tty0");
  sysfs.Virtual("ptmx");
  sysfs.Virtual("console");
  sysfs.ById("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "ttyUSB0");

  const std::vector<SerialPortInfo> expected = {
      {"/dev/ttyACM0", "", "2341:0043", "", "Arduino Uno", "cdc_acm"},
      {"/dev/ttyS0", "", "", "", "", ""},
      {"/dev/ttyS2", "", "", "", "", ""},
      {"/dev/ttyS10", "", "", "", "", ""},
      {"/dev/ttyUSB0", "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
       "0403:6001", "A50285BI", "FT232R USB UART", "ftdi_sio"},
  };
  const auto ports = FindSerialPorts(root.Path().string());
  EXPECT_EQ(ports, expected);

  EXPECT_EQ(FormatPortTable(ports),
            "DEVICE        BY-ID                                                           "
            "USB        SERIAL    PRODUCT\n"
            "/dev/ttyACM0  -                                                               "
            "2341:0043  -         Arduino Uno\n"
            "/dev/ttyS0    -                                                               "
            "-          -         -\n"
            "/dev/ttyS2    -                                                               "
            "-          -         -\n"
            "/dev/ttyS10   -                                                               "
            "-          -         -\n"
            "/dev/ttyUSB0  /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0  "
            "0403:6001  A50285BI  FT232R USB UART\n");
}

// What the audit records name a fixture by; nothing but the device for a
// port the system knows nothing about.
TEST(PortList, DescribesTheAdapterBehindOnePort) {
  TempDir root;
  FakeSysfs sysfs(root);
  sysfs.Usb("ttyUSB0", "1-2", "0403", "6001", "A50285BI", "FT232R USB UART");
  sysfs.Uart("ttyS0", 4);
  const std::string base = root.Path().string();
  EXPECT_EQ(DescribePort("/dev/ttyUSB0", base),
            (SerialPortInfo{"/dev/ttyUSB0", "", "0403:6001", "A50285BI", "FT232R USB UART",
                            "ftdi_sio"}));
  EXPECT_EQ(DescribePort("/dev/ttyS0", base), (SerialPortInfo{"/dev/ttyS0", "", "", "", "", ""}));
  EXPECT_EQ(DescribePort("/dev/pts/99", base),
            (SerialPortInfo{"/dev/pts/99", "", "", "", "", ""}));
}

TEST(PortList, EmptyOrMissingTreeListsNothing) {
  TempDir root;
  EXPECT_TRUE(FindSerialPorts(root.Path().string()).empty());
  FakeSysfs sysfs(root);
  sysfs.Virtual("tty1");
  sysfs.Uart("ttyS3", 0);
  EXPECT_TRUE(FindSerialPorts(root.Path().string()).empty());
  EXPECT_EQ(FormatPortTable({}), "No serial ports found.\n");
}

// USB strings come from the device: a product text may hold anything.
TEST(PortList, ControlCharactersAndBadBytesInUsbStringsAreEscaped) {
  TempDir root;
  FakeSysfs sysfs(root);
  sysfs.Usb("ttyUSB0", "1-2", "0403", "6001", "A5\xff\x9b", "\x1b]0;owned\x07 UART\x7f");
  const auto ports = FindSerialPorts(root.Path().string());
  ASSERT_EQ(ports.size(), 1u);
  EXPECT_EQ(FormatPortTable(ports),
            "DEVICE        BY-ID  USB        SERIAL      PRODUCT\n"
            "/dev/ttyUSB0  -      0403:6001  A5\\xFF\\x9B  \\x1B]0;owned\\x07 UART\\x7F\n");
}

}  // namespace
}  // namespace vexel::cli

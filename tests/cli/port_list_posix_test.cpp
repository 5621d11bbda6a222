#include "cli/adapter_latency.h"
#include "cli/port_list.h"

#include <gtest/gtest.h>

#include "temp_dir.h"

namespace vexel::cli {

// Found by argument lookup, so beside the type's namespace, not in an unnamed one.
bool operator==(const SerialPortInfo& a, const SerialPortInfo& b) {
  return a.device == b.device && a.byId == b.byId && a.usbId == b.usbId &&
         a.serial == b.serial && a.product == b.product && a.driver == b.driver &&
         a.latency == b.latency;
}

void PrintTo(const SerialPortInfo& p, std::ostream* os) {
  *os << "{" << p.device << "|" << p.byId << "|" << p.usbId << "|" << p.serial << "|"
      << p.product << "|" << p.driver << "|" << p.latency << "}";
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
           const std::string& product, const std::string& serial, const std::string& text) {
    const std::string dev = "sys/devices/pci0000:00/0000:00:14.0/usb1/" + usbDir;
    m_root.Write(dev + "/idVendor", vendor + "\n");
    m_root.Write(dev + "/idProduct", product + "\n");
    if (!serial.empty()) m_root.Write(dev + "/serial", serial + "\n");
    m_root.Write(dev + "/product", text + "\n");
    Tty(dev + "/" + usbDir + ":1.0", name, "../../../" + usbDir + ":1.0");
  }

  // A tty with no device behind it (virtual consoles, ptmx).
  void Virtual(const std::string& name) {
    m_root.MakeDir("sys/devices/virtual/tty/" + name);
    m_root.Write("sys/devices/virtual/tty/" + name + "/dev", "4:1\n");
    m_root.Link("sys/class/tty/" + name, "../../devices/virtual/tty/" + name);
  }

  // The driver bound to the tty's device, and the latency timer of an
  // adapter whose driver has one.
  void Driver(const std::string& name, const std::string& driver) {
    m_root.Link("sys/class/tty/" + name + "/device/driver", "../../../bus/usb-serial/drivers/" + driver);
  }
  void Latency(const std::string& name, const std::string& value) {
    m_root.Write("sys/class/tty/" + name + "/device/latency_timer", value);
  }

  void ById(const std::string& link, const std::string& name) {
    m_root.Link("dev/serial/by-id/" + link, "../../" + name);
  }

 private:
  void Tty(const std::string& deviceDir, const std::string& name, const std::string& deviceLink) {
    const std::string ttyDir = deviceDir + "/tty/" + name;
    m_root.Write("dev/" + name, "");    m_root.Write(ttyDir + "/dev", "188:0\n");
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
  sysfs.Usb("ttyACM0", "1-3", "2341", "0043", "", "Arduino Uno");
  sysfs.Virtual("tty0");
  sysfs.Virtual("ptmx");
  sysfs.Virtual("console");
  sysfs.ById("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "ttyUSB0");
  sysfs.Driver("ttyUSB0", "ftdi_sio");
  sysfs.Latency("ttyUSB0", "16\n");
  sysfs.Driver("ttyACM0", "cdc_acm");
  sysfs.Driver("ttyS0", "serial8250");

  const std::vector<SerialPortInfo> expected = {
      {"/dev/ttyACM0", "", "2341:0043", "", "Arduino Uno", "cdc_acm", ""},
      {"/dev/ttyS0", "", "", "", "", "serial8250", ""},
      {"/dev/ttyS2", "", "", "", "", "", ""},
      {"/dev/ttyS10", "", "", "", "", "", ""},
      {"/dev/ttyUSB0", "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
       "0403:6001", "A50285BI", "FT232R USB UART", "ftdi_sio", "16 ms"},
  };
  const auto ports = FindSerialPorts(root.Path().string());
  EXPECT_EQ(ports, expected);

  EXPECT_EQ(FormatPortTable(ports),
            "DEVICE        BY-ID                                                           "
            "USB        SERIAL    PRODUCT          DRIVER      LATENCY\n"
            "/dev/ttyACM0  -                                                               "
            "2341:0043  -         Arduino Uno      cdc_acm     -\n"
            "/dev/ttyS0    -                                                               "
            "-          -         -                serial8250  -\n"
            "/dev/ttyS2    -                                                               "
            "-          -         -                -           -\n"
            "/dev/ttyS10   -                                                               "
            "-          -         -                -           -\n"
            "/dev/ttyUSB0  /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0  "
            "0403:6001  A50285BI  FT232R USB UART  ftdi_sio    16 ms\n");
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
            "DEVICE        BY-ID  USB        SERIAL      PRODUCT                    DRIVER  LATENCY\n"
            "/dev/ttyUSB0  -      0403:6001  A5\\xFF\\x9B  \\x1B]0;owned\\x07 UART\\x7F  -       -\n");
}

// The latency timer is found through any link to the tty, and a warning
// with the fix comes only when it is above 1 ms.
TEST(AdapterLatency, ReadThroughLinksAndWarnedAboveOneMillisecond) {
  TempDir root;
  FakeSysfs sysfs(root);
  sysfs.Usb("ttyUSB0", "1-2", "0403", "6001", "A50285BI", "FT232R USB UART");
  sysfs.ById("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "ttyUSB0");
  sysfs.Usb("ttyACM0", "1-3", "2341", "0043", "", "Arduino Uno");
  root.Link("tmp/vexel-com1", "../dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
  const std::string fix =
      " ms, so every reply waits up to that long (1 ms loads about twice as fast); set it with: "
      "echo 1 | sudo tee /sys/bus/usb-serial/devices/ttyUSB0/latency_timer, or for good with the "
      "udev rule line: ACTION==\"add\", SUBSYSTEM==\"usb-serial\", DRIVER==\"ftdi_sio\", "
      "ATTR{latency_timer}=\"1\"";
  const struct {
    const char* timer;  // nullptr: no latency_timer file
    const char* device;
    int ms;
    std::string warning;
  } cases[] = {
      {"16\n", "/dev/ttyUSB0", 16, "the adapter's latency timer is 16" + fix},
      {"16\n", "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", 16,
       "the adapter's latency timer is 16" + fix},
      {"2\n", "/tmp/vexel-com1", 2, "the adapter's latency timer is 2" + fix},
      {"1\n", "/dev/ttyUSB0", 1, ""},
      {"0\n", "/dev/ttyUSB0", 0, ""},
      {"junk\n", "/dev/ttyUSB0", -1, ""},
      {nullptr, "/dev/ttyACM0", -1, ""},
      {nullptr, "/dev/ttyUSB9", -1, ""},
  };
  for (const auto& c : cases) {
    if (c.timer != nullptr) sysfs.Latency("ttyUSB0", c.timer);
    EXPECT_EQ(ReadLatencyTimer(c.device, root.Path().string()), c.ms) << c.device << c.timer;
    EXPECT_EQ(LatencyWarning(c.device, root.Path().string()), c.warning) << c.device << c.timer;
  }
}

}  // namespace
}  // namespace vexel::cli

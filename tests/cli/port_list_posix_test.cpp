#include "port_list/port_list.h"
#include "runner/adapter_latency.h"
#include "runner/open_diagnosis.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace vexel::cli {

// Found by argument lookup, so beside the type's namespace, not in an unnamed one.
bool operator==(const SerialPortInfo& a, const SerialPortInfo& b) {
  return a.device == b.device && a.byId == b.byId && a.usbId == b.usbId && a.serial == b.serial &&
         a.product == b.product && a.driver == b.driver && a.latency == b.latency;
}

void PrintTo(const SerialPortInfo& p, std::ostream* os) {
  *os << "{" << p.device << "|" << p.byId << "|" << p.usbId << "|" << p.serial << "|" << p.product
      << "|" << p.driver << "|" << p.latency << "}";
}

namespace {

using vexel::test::TempDir;

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

  // The driver bound to the tty's device, and the latency timer of an
  // adapter whose driver has one.
  void Driver(const std::string& name, const std::string& driver) {
    m_root.Link("sys/class/tty/" + name + "/device/driver",
                "../../../bus/usb-serial/drivers/" + driver);
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
    m_root.Write("dev/" + name, "");
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
  sysfs.Latency("ttyUSB0", "16\n");
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
                            "ftdi_sio", ""}));
  EXPECT_EQ(DescribePort("/dev/ttyS0", base),
            (SerialPortInfo{"/dev/ttyS0", "", "", "", "", "", ""}));
  EXPECT_EQ(DescribePort("/dev/pts/99", base),
            (SerialPortInfo{"/dev/pts/99", "", "", "", "", "", ""}));
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
  EXPECT_EQ(
      FormatPortTable(ports),
      "DEVICE        BY-ID  USB        SERIAL      PRODUCT                    DRIVER    LATENCY\n"
      "/dev/ttyUSB0  -      0403:6001  A5\\xFF\\x9B  \\x1B]0;owned\\x07 UART\\x7F  ftdi_sio  -\n");
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

// The services that take serial ports away, each named with its fix, on a
// fake /proc, /sys and /run/udev tree.
TEST(PortTraps, ModemManagerAndBrlttyAreNamedWithTheirFixes) {
  const std::string modemManager =
      "ModemManager (pid 812) probes new serial ports with AT commands and holds them "
      "meanwhile; keep it away from this one with the udev rule line ATTRS{idVendor}==\"";
  const std::string modemManagerFix =
      "\", ENV{ID_MM_DEVICE_IGNORE}=\"1\" in /etc/udev/rules.d/99-vexel.rules, then: sudo udevadm "
      "control --reload-rules && sudo udevadm trigger (or stop it: sudo systemctl stop "
      "ModemManager)";
  const std::string acm = modemManager + "2341\", ATTRS{idProduct}==\"0043" + modemManagerFix;
  const std::string ftdi = modemManager + "0403\", ATTRS{idProduct}==\"6001" + modemManagerFix;
  const std::string brltty =
      "brltty (pid 640) claims CH340/CH341 adapters (USB 1a86:7523) as Braille displays, so "
      "their port vanishes; without a Braille display: sudo systemctl mask brltty-udev.service "
      "&& sudo systemctl stop brltty-udev.service brltty.service (or: sudo apt remove brltty), "
      "then plug the adapter in again";
  const struct {
    const char* name;
    bool modemManager;
    bool brltty;
    bool ch340;    // a CH340 is plugged in (its tty already taken)
    bool ignored;  // the udev database marks ttyACM0 ID_MM_DEVICE_IGNORE
    const char* device;
    std::vector<std::string> traps;
  } cases[] = {
      {"NothingRunning", false, false, true, false, "/dev/ttyACM0", {}},
      {"ModemManagerAndAUsbPort", true, false, false, false, "/dev/ttyACM0", {acm}},
      {"ModemManagerThroughALink",
       true,
       false,
       false,
       false,
       "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
       {ftdi}},
      {"ModemManagerToldToIgnoreIt", true, false, false, true, "/dev/ttyACM0", {}},
      {"ModemManagerAndAUart", true, false, false, false, "/dev/ttyS0", {}},
      {"BrlttyAndACh340", false, true, true, false, "/dev/ttyUSB1", {brltty}},
      {"BrlttyWithoutACh340", false, true, false, false, "/dev/ttyUSB1", {}},
      {"Both", true, true, true, false, "/dev/ttyACM0", {acm, brltty}},
  };
  for (const auto& c : cases) {
    TempDir root;
    FakeSysfs sysfs(root);
    sysfs.Uart("ttyS0", 4);
    sysfs.Usb("ttyUSB0", "1-2", "0403", "6001", "A50285BI", "FT232R USB UART");
    sysfs.ById("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "ttyUSB0");
    sysfs.Usb("ttyACM0", "1-3", "2341", "0043", "", "Arduino Uno");
    root.Write("proc/1/comm", "systemd\n");
    if (c.modemManager) root.Write("proc/812/comm", "ModemManager\n");
    if (c.brltty) root.Write("proc/640/comm", "brltty\n");
    root.Write("sys/bus/usb/devices/1-2/idVendor", "0403\n");
    if (c.ch340) {
      root.Write("sys/bus/usb/devices/1-4/idVendor", "1a86\n");
      root.Write("sys/bus/usb/devices/1-4/idProduct", "7523\n");
    }
    root.Write("run/udev/data/c188:0",
               c.ignored ? "S:serial/by-id/x\nE:ID_MM_DEVICE_IGNORE=1\n" : "E:ID_BUS=usb\n");
    EXPECT_EQ(FindPortTraps(c.device, root.Path().string()), c.traps) << c.name;
  }
  EXPECT_EQ(WithTraps("Permission denied", {"a", "b"}), "Permission denied; a; b");
  EXPECT_EQ(WithTraps("", {"a"}), "a");
}

}  // namespace
}  // namespace vexel::cli

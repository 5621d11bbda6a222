// The mapping between the device-settings record and termios, as pure
// functions: what a pseudo-terminal cannot hold (parity, data bits) is
// checked here rather than over a pty.
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <cstring>

#include "termios_mapping_posix.h"

namespace vexel::comm {
namespace {

termios RawTermios() {
  termios t{};
  t.c_cflag = CS8 | CREAD | CLOCAL;
  cfsetispeed(&t, B9600);
  cfsetospeed(&t, B9600);
  return t;
}

DeviceSettings Line(uint32_t baud, uint8_t bits, uint8_t parity, uint8_t stop) {
  DeviceSettings s;
  SetLineFormatFields(s, baud, bits, parity, stop);
  return s;
}

struct FormatRow {
  uint32_t baud;
  uint8_t dataBits;
  uint8_t parity;
  uint8_t stopBits;
  speed_t speed;
  tcflag_t size;
  tcflag_t parityBits;  // PARENB, PARODD, CMSPAR
  bool twoStops;
};

const FormatRow kFormats[] = {
    {57600, 8, kParityEven, kTwoStopBits, B57600, CS8, PARENB, true},
    {9600, 8, kParityNone, kOneStopBit, B9600, CS8, 0, false},
    {115200, 7, kParityOdd, kOneStopBit, B115200, CS7, PARENB | PARODD, false},
    {300, 6, kParityMark, kTwoStopBits, B300, CS6, PARENB | PARODD | CMSPAR, true},
    {4000000, 5, kParitySpace, kOneStopBit, B4000000, CS5, PARENB | CMSPAR, false},
    {50, 8, kParityNone, kTwoStopBits, B50, CS8, 0, true},
};

TEST(ToTermios, WritesEachLineFormat) {
  for (const FormatRow& row : kFormats) {
    termios t = RawTermios();
    ASSERT_EQ(ToTermios(Line(row.baud, row.dataBits, row.parity, row.stopBits), t), kResultOk)
        << row.baud;
    EXPECT_EQ(cfgetospeed(&t), row.speed) << row.baud;
    EXPECT_EQ(cfgetispeed(&t), row.speed) << row.baud;
    EXPECT_EQ(t.c_cflag & CSIZE, row.size) << row.baud;
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), row.parityBits) << row.baud;
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, row.twoStops) << row.baud;
    EXPECT_EQ((t.c_iflag & INPCK) != 0, row.parity != kParityNone) << row.baud;
    EXPECT_EQ(t.c_iflag & PARMRK, 0u) << "bytes stay raw";
  }
}

TEST(ToTermios, RoundTripsThroughFromTermios) {
  for (const FormatRow& row : kFormats) {
    const DeviceSettings written = Line(row.baud, row.dataBits, row.parity, row.stopBits);
    termios t = RawTermios();
    ASSERT_EQ(ToTermios(written, t), kResultOk);
    DeviceSettings read;
    FromTermios(t, read);
    EXPECT_EQ(read.BaudRate, row.baud);
    EXPECT_EQ(read.ByteSize, row.dataBits);
    EXPECT_EQ(ParityOf(read), row.parity) << row.baud;
    EXPECT_EQ(read.StopBits, row.stopBits);
  }
}

TEST(ToTermios, RefusesWhatLinuxCannotDoAndWritesNothing) {
  struct Row {
    const char* what;
    DeviceSettings settings;
  };
  DeviceSettings highParity = Line(9600, 8, kParityEven, kOneStopBit);
  highParity.Parity = 5;
  const Row table[] = {
      {"baud rate outside the table", Line(12345, 8, kParityNone, kOneStopBit)},
      {"baud rate 0", Line(0, 8, kParityNone, kOneStopBit)},
      {"4 data bits", Line(9600, 4, kParityNone, kOneStopBit)},
      {"9 data bits", Line(9600, 9, kParityNone, kOneStopBit)},
      {"parity code 5", highParity},
      {"1.5 stop bits", Line(9600, 8, kParityNone, kOne5StopBits)},
      {"stop-bit code 3", Line(9600, 8, kParityNone, 3)},
  };
  for (const Row& row : table) {
    termios t = RawTermios();
    const termios before = t;
    EXPECT_EQ(ToTermios(row.settings, t), kErrorInvalidParameter) << row.what;
    EXPECT_EQ(std::memcmp(&t, &before, sizeof t), 0) << row.what;
  }
}

TEST(ToTermios, ParityCodeIsIgnoredWhileParityIsOff) {
  DeviceSettings s = Line(9600, 8, kParityNone, kOneStopBit);
  s.Parity = 9;
  termios t = RawTermios();
  EXPECT_EQ(ToTermios(s, t), kResultOk);
  EXPECT_EQ(t.c_cflag & PARENB, 0u);
}

TEST(ToTermios, FlowControlModes) {
  struct Row {
    int32_t mode;
    int32_t result;
    bool rtsCts;
    bool xonXoff;
  };
  const Row table[] = {
      {FlowNone, kResultOk, false, false},
      // termios has no DTR/DSR handshaking: RTS/CTS is still set, and said.
      {FlowHardware, kErrorNotSupported, true, false},
      {FlowXonXoff, kResultOk, false, true},
  };
  for (const Row& row : table) {
    DeviceSettings s = Line(9600, 8, kParityNone, kOneStopBit);
    ASSERT_TRUE(ApplyFlowControl(s, row.mode));
    termios t = RawTermios();
    t.c_cflag |= CRTSCTS;
    t.c_iflag |= IXON | IXOFF;
    EXPECT_EQ(ToTermios(s, t), row.result) << row.mode;
    EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, row.rtsCts) << row.mode;
    EXPECT_EQ((t.c_iflag & IXON) != 0, row.xonXoff) << row.mode;
    EXPECT_EQ((t.c_iflag & IXOFF) != 0, row.xonXoff) << row.mode;
    EXPECT_EQ(t.c_cc[VSTART], 0x11);
    EXPECT_EQ(t.c_cc[VSTOP], 0x13);
  }
}

TEST(ToTermios, DsrHandshakeAloneIsNotSupported) {
  DeviceSettings s = Line(9600, 8, kParityNone, kOneStopBit);
  s.flags |= kFOutxDsrFlow;
  termios t = RawTermios();
  EXPECT_EQ(ToTermios(s, t), kErrorNotSupported);
  EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
}

TEST(FromTermios, ReadsFlowControlBackAndKeepsTheRest) {
  DeviceSettings s = Line(9600, 8, kParityNone, kOneStopBit);
  ASSERT_TRUE(ApplyFlowControl(s, FlowHardware));
  s.EvtChar = '\n';
  termios t = RawTermios();
  ToTermios(s, t);
  DeviceSettings read = s;
  FromTermios(t, read);
  EXPECT_EQ(FlowControlOf(read), FlowHardware);
  EXPECT_EQ(read.EvtChar, '\n');

  t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);  // someone else switched RTS/CTS off
  FromTermios(t, read);
  EXPECT_EQ(RtsControl(read), kRtsControlEnable);
  EXPECT_EQ(read.flags & kFOutxCtsFlow, 0u);
  EXPECT_EQ(FlowControlOf(read), FlowNone);
}

TEST(FromTermios, ParityOffKeepsTheParityFieldAndUnknownSpeedReadsZero) {
  DeviceSettings s = Line(57600, 8, kParityEven, kTwoStopBits);
  termios t = RawTermios();
  ToTermios(s, t);
  t.c_cflag &= ~static_cast<tcflag_t>(PARENB);  // what a pseudo-terminal does
  cfsetospeed(&t, B0);
  FromTermios(t, s);
  EXPECT_EQ(s.flags & kFParity, 0u);
  EXPECT_EQ(s.Parity, kParityEven);
  EXPECT_EQ(ParityOf(s), kParityNone);
  EXPECT_EQ(s.BaudRate, 0u);
}

TEST(MakeRaw, GivesAByteTransparentNonBlockingLine) {
  termios t{};
  t.c_iflag = BRKINT | ICRNL | IXON | ISTRIP | PARMRK | IGNPAR | INPCK;
  t.c_oflag = OPOST | ONLCR;
  t.c_lflag = ICANON | ECHO | ECHOE | ISIG | IEXTEN;
  t.c_cflag = CS8;
  MakeRaw(t);
  EXPECT_EQ(t.c_iflag & (BRKINT | ICRNL | ISTRIP | PARMRK | IGNPAR | IGNBRK), 0u);
  EXPECT_EQ(t.c_iflag & (IXON | INPCK), static_cast<tcflag_t>(IXON | INPCK))
      << "flow control and parity checking belong to their setters";
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
  EXPECT_EQ(t.c_cc[VMIN], 1);
  EXPECT_EQ(t.c_cc[VTIME], 0);
}

TEST(ModemLines, FollowTheDtrAndRtsControlFields) {
  struct Row {
    int32_t mode;
    int raise;
    int drop;
  };
  const Row table[] = {
      {FlowNone, 0, TIOCM_DTR | TIOCM_RTS},  // both disabled
      {FlowHardware, 0, 0},                  // both handshaking: the driver's
      {FlowXonXoff, 0, TIOCM_DTR | TIOCM_RTS},
  };
  for (const Row& row : table) {
    DeviceSettings s;
    ASSERT_TRUE(ApplyFlowControl(s, row.mode));
    const ModemLines lines = ModemLinesOf(s);
    EXPECT_EQ(lines.raise, row.raise) << row.mode;
    EXPECT_EQ(lines.drop, row.drop) << row.mode;
  }
  DeviceSettings enabled;
  enabled.flags = (kDtrControlEnable << kDtrControlShift) | (kRtsControlEnable << kRtsControlShift);
  EXPECT_EQ(ModemLinesOf(enabled).raise, TIOCM_DTR | TIOCM_RTS);
  EXPECT_EQ(ModemLinesOf(enabled).drop, 0);
}

TEST(LineErrors, CounterIncreasesBecomeErrorFlagsAndEvents) {
  struct Row {
    int serial_icounter_struct::*counter;
    uint32_t flag;
    uint32_t event;
  };
  const Row table[] = {
      {&serial_icounter_struct::frame, kLineErrorFrame, kEventError},
      {&serial_icounter_struct::parity, kLineErrorRxParity, kEventError},
      {&serial_icounter_struct::overrun, kLineErrorOverrun, kEventError},
      {&serial_icounter_struct::buf_overrun, kLineErrorRxOver, kEventError},
      {&serial_icounter_struct::brk, kLineErrorBreak, kEventBreak},
      {&serial_icounter_struct::rx, 0, 0},  // received bytes are no error
  };
  for (const Row& row : table) {
    serial_icounter_struct before{};
    serial_icounter_struct after{};
    before.*row.counter = 7;
    after.*row.counter = 9;
    EXPECT_EQ(ErrorFlagsBetween(before, after), row.flag);
    EXPECT_EQ(EventsOfErrors(ErrorFlagsBetween(before, after)), row.event);
    EXPECT_EQ(ErrorFlagsBetween(after, before), 0u) << "a counter that went back";
  }
  EXPECT_EQ(EventsOfErrors(kLineErrorFrame | kLineErrorBreak), kEventError | kEventBreak);
}

}  // namespace
}  // namespace vexel::comm

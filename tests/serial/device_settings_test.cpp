// The device-settings record: the flow-control table, the flow-control and
// parity read-back rules, and the read-mode time-outs.
#include <gtest/gtest.h>

#include "device_settings.h"

namespace vexel::comm {
namespace {

struct FlowWords {
  int32_t mode;
  uint32_t clear;
  uint32_t set;
};

TEST(FlowControlTable, ClearsAndSetsTheDocumentedFlagWords) {
  const FlowWords table[] = {
      {FlowNone, 0x333C, 0x0000},
      {FlowHardware, 0x1310, 0x202C},
      {FlowXonXoff, 0x303C, 0x0300},
  };
  for (const FlowWords& row : table) {
    const FlowControlBits* bits = FlowControlBitsOf(row.mode);
    ASSERT_NE(bits, nullptr) << "mode " << row.mode;
    EXPECT_EQ(bits->clear, row.clear) << "mode " << row.mode;
    EXPECT_EQ(bits->set, row.set) << "mode " << row.mode;
  }
  EXPECT_EQ(FlowControlBitsOf(-1), nullptr);
  EXPECT_EQ(FlowControlBitsOf(3), nullptr);
}

TEST(FlowControlTable, LeavesEveryOtherFieldAsRead) {
  for (int32_t mode : {FlowNone, FlowHardware, FlowXonXoff}) {
    DeviceSettings s;
    s.flags = 0x7FFF;  // every flag bit set
    s.XonChar = 0x21;
    s.XoffChar = 0x22;
    s.XonLim = 100;
    s.XoffLim = 200;
    ASSERT_TRUE(ApplyFlowControl(s, mode));
    const uint32_t untouched = ~(0x333Cu);
    EXPECT_EQ(s.flags & untouched, 0x7FFFu & untouched) << "mode " << mode;
    EXPECT_NE(s.flags & kFDsrSensitivity, 0u);
    EXPECT_NE(s.flags & kFTXContinueOnXoff, 0u);
    EXPECT_EQ(s.XonChar, 0x21);
    EXPECT_EQ(s.XoffChar, 0x22);
    EXPECT_EQ(s.XonLim, 100);
    EXPECT_EQ(s.XoffLim, 200);
    EXPECT_EQ(FlowControlOf(s), mode);
  }
}

TEST(FlowControlTable, OutOfRangeModeChangesNothing) {
  DeviceSettings s;
  s.flags = 0x0300 | kFBinary;
  EXPECT_FALSE(ApplyFlowControl(s, 3));
  EXPECT_EQ(s.flags, 0x0300u | kFBinary);
}

TEST(FlowControlOf, LooksAtDtrAndRtsFirstThenXonXoff) {
  struct Row {
    uint32_t flags;
    int32_t mode;
  };
  const Row table[] = {
      {0x2020, FlowHardware},           // DTR and RTS handshake, no CTS/DSR out-flow
      {0x2020 | 0x0300, FlowHardware},  // handshake wins over XON/XOFF
      {0x2010, FlowNone},               // DTR enabled, not handshaking
      {0x000C, FlowNone},               // CTS and DSR out-flow alone
      {0x0300, FlowXonXoff},
      {0x0100, FlowNone},  // XON/XOFF one way only
      {0x0200, FlowNone},
      {0x0000, FlowNone},
  };
  for (const Row& row : table) {
    DeviceSettings s;
    s.flags = row.flags;
    EXPECT_EQ(FlowControlOf(s), row.mode) << std::hex << row.flags;
  }
}

// Records another program or a driver may leave behind. Open sets the fields
// that lose data or make the record unusable and keeps every other one.
struct InheritedCase {
  const char* what;
  uint32_t flags;    // as read
  uint8_t xonChar;   // as read
  uint8_t xoffChar;  // as read
  uint32_t soundFlags;
};

TEST(SoundFields, OpenSetsTheUnsoundFieldsAndKeepsTheRest) {
  const InheritedCase table[] = {
      // what                                     flags   xon   xoff  flags after
      {"already sound", 0x0001, 0x11, 0x13, 0x0001},
      {"equal XON and XOFF: SetCommState 87", 0x0001, 0x13, 0x13, 0x0001},
      {"both characters zero", 0x0001, 0x00, 0x00, 0x0001},
      {"fNull drops each reply's closing 0x00", 0x0801, 0x11, 0x13, 0x0001},
      {"fAbortOnError ends reads on an error", 0x4001, 0x11, 0x13, 0x0001},
      {"fErrorChar replaces bytes with errors", 0x0401, 0x11, 0x13, 0x0001},
      {"fDsrSensitivity drops input, DSR low", 0x0041, 0x11, 0x13, 0x0001},
      {"fBinary clear, which Windows refuses", 0x0000, 0x11, 0x13, 0x0001},
      {"every flag set", 0x7FFF, 0x13, 0x11, 0x33BF},
      {"flow control and parity kept", 0x4B2F, 0x00, 0x00, 0x032F},
  };
  for (const InheritedCase& row : table) {
    DeviceSettings s;
    s.BaudRate = 57600;
    s.flags = row.flags;
    s.XonLim = 1024;
    s.XoffLim = 512;
    s.ByteSize = 7;
    s.Parity = kParityEven;
    s.StopBits = kTwoStopBits;
    s.XonChar = row.xonChar;
    s.XoffChar = row.xoffChar;
    s.ErrorChar = '?';
    s.EofChar = 0x1A;
    s.EvtChar = '\n';
    ApplySoundFields(s);
    EXPECT_EQ(s.flags, row.soundFlags) << row.what;
    EXPECT_EQ(s.XonChar, 0x11) << row.what;
    EXPECT_EQ(s.XoffChar, 0x13) << row.what;
    EXPECT_EQ(s.BaudRate, 57600u) << row.what;
    EXPECT_EQ(s.XonLim, 1024) << row.what;
    EXPECT_EQ(s.XoffLim, 512) << row.what;
    EXPECT_EQ(s.ByteSize, 7) << row.what;
    EXPECT_EQ(s.Parity, kParityEven) << row.what;
    EXPECT_EQ(s.StopBits, kTwoStopBits) << row.what;
    EXPECT_EQ(s.ErrorChar, '?') << row.what << ": unused once fErrorChar is clear";
    EXPECT_EQ(s.EofChar, 0x1A) << row.what;
    EXPECT_EQ(s.EvtChar, '\n') << row.what;
  }
}

TEST(LineFormat, ParityBitFollowsParityAndGatesTheReadBack) {
  DeviceSettings s;
  SetLineFormatFields(s, 57600, 8, kParityEven, kTwoStopBits);
  EXPECT_EQ(s.BaudRate, 57600u);
  EXPECT_EQ(s.ByteSize, 8);
  EXPECT_EQ(s.StopBits, kTwoStopBits);
  EXPECT_NE(s.flags & kFParity, 0u);
  EXPECT_EQ(ParityOf(s), kParityEven);

  s.flags &= ~kFParity;  // a line whose parity checking is off
  EXPECT_EQ(s.Parity, kParityEven);
  EXPECT_EQ(ParityOf(s), kParityNone);

  SetLineFormatFields(s, 9600, 7, kParityOdd, kOneStopBit);
  EXPECT_EQ(ParityOf(s), kParityOdd);
  SetLineFormatFields(s, 9600, 8, kParityNone, kOneStopBit);
  EXPECT_EQ(s.flags & kFParity, 0u);
}

TEST(ReadMode, SetsTheReadTimeoutsAndKeepsTheWriteOnes) {
  CommTimeouts t;
  t.WriteTotalTimeoutMultiplier = 3;
  t.WriteTotalTimeoutConstant = 4;
  ASSERT_TRUE(ApplyReadMode(t, ReadNonBlocking));
  EXPECT_EQ(t.ReadIntervalTimeout, 0xFFFFFFFFu);
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 0u);
  EXPECT_TRUE(ReadsReturnAtOnce(t));

  ASSERT_TRUE(ApplyReadMode(t, ReadBlocking));
  EXPECT_EQ(t.ReadIntervalTimeout, 0u);
  EXPECT_FALSE(ReadsReturnAtOnce(t));
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 3u);
  EXPECT_EQ(t.WriteTotalTimeoutConstant, 4u);

  EXPECT_FALSE(ApplyReadMode(t, 2));
  EXPECT_FALSE(ApplyReadMode(t, -1));
  EXPECT_EQ(t.ReadIntervalTimeout, 0u);
}

}  // namespace
}  // namespace vexel::comm

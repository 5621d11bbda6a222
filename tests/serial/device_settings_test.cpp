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

TEST(LineFormat, ParityBitFollowsParityAndGatesTheReadBack) {
  DeviceSettings s;
  SetLineFormatFields(s, 57600, 8, EVENPARITY, TWOSTOPBITS);
  EXPECT_EQ(s.BaudRate, 57600u);
  EXPECT_EQ(s.ByteSize, 8);
  EXPECT_EQ(s.StopBits, TWOSTOPBITS);
  EXPECT_NE(s.flags & kFParity, 0u);
  EXPECT_EQ(ParityOf(s), EVENPARITY);

  s.flags &= ~kFParity;  // a line whose parity checking is off
  EXPECT_EQ(s.Parity, EVENPARITY);
  EXPECT_EQ(ParityOf(s), NOPARITY);

  SetLineFormatFields(s, 9600, 7, ODDPARITY, ONESTOPBIT);
  EXPECT_EQ(ParityOf(s), ODDPARITY);
  SetLineFormatFields(s, 9600, 8, NOPARITY, ONESTOPBIT);
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

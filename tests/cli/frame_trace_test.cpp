#include "runner/frame_trace.h"

#include <gtest/gtest.h>

#include <vector>

namespace vexel::cli {
namespace {

TEST(FrameTrace, NamesEveryRequest) {
  std::vector<uint8_t> send(68, 0x11);
  send[0] = 0xB0, send[1] = 0xEF, send[2] = 0x66, send[3] = 0x40;
  const struct {
    std::vector<uint8_t> frame;
    bool lastChunk;
    const char* name;
  } cases[] = {
      {{0xB0, 0xEF, 0x01, 0x00}, false, "CONNECT"},
      {{0xB0, 0xEF, 0x55, 0x02, 0xAA, 0x04}, false, "INIT"},
      {{0xB0, 0xEF,                                             // sync
        0x55, 0x09,                                             // INIT/FLASH, nine bytes
        0x55, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x01},  // the FLASH payload
       false,
       "FLASH"},
      {send, false, "SEND"},
      {send, true, "SENDLAST"},  // a full last chunk
      {{0xB0, 0xEF, 0x66, 0x01, 0x7F}, true, "SENDLAST"},
      {{0xB0, 0xEF, 0x66, 0x00}, true, "SENDLAST"},  // an empty image
      {{0xB0, 0xEF, 0x55, 0x03, 0x00, 0x00, 0x00}, false, "?"},
      {{0xB0, 0xEF, 0x01}, false, "?"},              // short
      {{0xB0, 0xEF, 0x66, 0x02, 0x00}, false, "?"},  // length byte disagrees
      {{0xB1, 0xEF, 0x01, 0x00}, false, "?"},        // no sync
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(FrameNameText(RequestName(c.frame.data(), c.frame.size(), c.lastChunk)), c.name)
        << HexBytes(c.frame.data(), c.frame.size());
  }
}

TEST(FrameTrace, NamesReplies) {
  const struct {
    std::vector<uint8_t> frame;
    const char* name;
  } cases[] = {
      {{0xB0, 0xEF, 0x00, 0x01, 0x5A}, "CONNECT-REPLY"},  // payload not examined
      {{0xB0, 0xEF, 0xAA, 0x01, 0x00}, "ACK"},
      {{0xB0, 0xEF, 0xAA, 0x01, 0x01}, "?"},  // a NAK-like payload
      {{0xB0, 0xEF, 0xAA, 0x02, 0x00, 0x00}, "?"},
      {{0xB0, 0xEF, 0x00, 0x02, 0x00, 0x00}, "?"},
      {{0xB0, 0xEF, 0x00, 0x00}, "?"},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(FrameNameText(ReplyName(c.frame.data(), c.frame.size())), c.name)
        << HexBytes(c.frame.data(), c.frame.size());
  }
}

TEST(FrameTrace, LineHasTimestampPortDirectionNameAndHex) {
  const uint8_t init[] = {0xB0, 0xEF, 0x55, 0x02, 0xAA, 0x04};
  const uint8_t ack[] = {0xB0, 0xEF, 0xAA, 0x01, 0x00};
  EXPECT_EQ(FormatTraceLine(123456789012, "/dev/pts/3", true, FrameName::Init, init, sizeof init),
            "123456789012 /dev/pts/3 TX INIT          B0 EF 55 02 AA 04");
  EXPECT_EQ(FormatTraceLine(7, "COM1", false, FrameName::Ack, ack, sizeof ack),
            "7 COM1 RX ACK           B0 EF AA 01 00");
  EXPECT_EQ(HexBytes(nullptr, 0), "");
}

TEST(FrameTrace, ControlCharactersInThePortNameAreEscaped) {
  const uint8_t ack[] = {0xB0, 0xEF, 0xAA, 0x01, 0x00};
  EXPECT_EQ(FormatTraceLine(7, "/x/a\n8 /x/a RX ACK\x1b[K", false, FrameName::Ack, ack, sizeof ack),
            "7 /x/a\\x0A8 /x/a RX ACK\\x1B[K RX ACK           B0 EF AA 01 00");
}

}  // namespace
}  // namespace vexel::cli

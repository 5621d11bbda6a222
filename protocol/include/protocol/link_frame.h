// Layout and fixed contents of the frames on the module's serial line:
// B0 EF, a command byte, a length byte, then that many payload bytes.
// No checksum, no escaping.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vexel {

constexpr uint8_t kSync1 = 0xB0;
constexpr uint8_t kSync2 = 0xEF;
constexpr size_t kHeaderSize = 4;  // sync 1, sync 2, command, length
constexpr size_t kFrameBufferSize = 256;
constexpr size_t kMaxHeldPayload = kFrameBufferSize - kHeaderSize;  // 252
constexpr size_t kChunkSize = 64;  // image bytes per SEND / SENDLAST

// Command bytes. INIT and FLASH share 0x55, SEND and SENDLAST share 0x66.
constexpr uint8_t kCmdConnect = 0x01;
constexpr uint8_t kCmdInitFlash = 0x55;
constexpr uint8_t kCmdSend = 0x66;
constexpr uint8_t kCmdConnectReply = 0x00;
constexpr uint8_t kCmdAck = 0xAA;

// Offsets inside a frame.
constexpr size_t kOffCommand = 2;
constexpr size_t kOffLength = 3;
constexpr size_t kOffPayload = 4;

// The fixed requests, byte for byte.
constexpr std::array<uint8_t, 4> kConnectFrame{kSync1, kSync2, kCmdConnect, 0x00};
constexpr std::array<uint8_t, 6> kInitFrame{kSync1, kSync2, kCmdInitFlash, 0x02, 0xAA, 0x04};
constexpr std::array<uint8_t, 13> kFlashFrame{kSync1, kSync2, kCmdInitFlash, 0x09, 0x55, 0x02, 0x03,
                                              0x04,   0x05,   0x06,          0x07, 0x08, 0x01};

// The replies the module sends: connect reply (payload not examined) and ACK.
constexpr std::array<uint8_t, 5> kConnectReplyFrame{kSync1, kSync2, kCmdConnectReply, 0x01, 0x00};
constexpr std::array<uint8_t, 5> kAckFrame{kSync1, kSync2, kCmdAck, 0x01, 0x00};

/// True for a connect reply: at least 4 bytes held, command 0x00, length 1.
inline bool IsConnectReply(const uint8_t* frame, int32_t count) {
  return count >= 4 && frame[kOffCommand] == kCmdConnectReply && frame[kOffLength] == 1;
}

/// True for an ACK: at least 5 bytes, command 0xAA, length 1, payload 0x00.
inline bool IsAckReply(const uint8_t* frame, int32_t count) {
  return count >= 5 && frame[kOffCommand] == kCmdAck && frame[kOffLength] == 1 &&
         frame[kOffPayload] == 0x00;
}

}  // namespace vexel

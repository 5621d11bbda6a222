#include "runner/frame_trace.h"

#include <cinttypes>
#include <cstdio>

#include "output/display_text.h"
#include "protocol/link_frame.h"

namespace vexel::cli {
namespace {

// Requests by command byte and length; 0x66 is told apart by lastChunk.
struct RequestKind {
  uint8_t command;
  int length;  // -1: any
  const char* name;
};

constexpr RequestKind kRequests[] = {
    {kCmdConnect, 0, "CONNECT"},
    {kCmdInitFlash, 2, "INIT"},
    {kCmdInitFlash, 9, "FLASH"},
    {kCmdSend, -1, "SEND"},
};

bool IsFramed(const uint8_t* frame, size_t length) {
  return length >= kHeaderSize && frame[0] == kSync1 && frame[1] == kSync2 &&
         length == kHeaderSize + frame[kOffLength];
}

}  // namespace

const char* RequestName(const uint8_t* frame, size_t length, bool lastChunk) {
  if (!IsFramed(frame, length)) return "?";
  for (const auto& kind : kRequests) {
    if (frame[kOffCommand] != kind.command) continue;
    if (kind.length >= 0 && frame[kOffLength] != kind.length) continue;
    if (kind.command == kCmdSend && lastChunk) return "SENDLAST";
    return kind.name;
  }
  return "?";
}

const char* ReplyName(const uint8_t* frame, size_t length) {
  const auto count = static_cast<int32_t>(length);
  if (length < kHeaderSize || frame[0] != kSync1 || frame[1] != kSync2) return "?";
  if (IsAckReply(frame, count)) return "ACK";
  if (IsConnectReply(frame, count)) return "CONNECT-REPLY";
  return "?";
}

std::string HexBytes(const uint8_t* bytes, size_t length) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(length * 3);
  for (size_t i = 0; i < length; ++i) {
    if (i > 0) text += ' ';
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  return text;
}

std::string FormatTraceLine(int64_t monotonicUs, const std::string& port, bool sent,
                            const char* name, const uint8_t* frame, size_t length) {
  char head[64];
  std::snprintf(head, sizeof head, "%" PRId64 " ", monotonicUs);
  char tail[32];
  std::snprintf(tail, sizeof tail, " %s %-13s ", sent ? "TX" : "RX", name);
  return head + DisplayText(port) + tail + HexBytes(frame, length);
}

}  // namespace vexel::cli

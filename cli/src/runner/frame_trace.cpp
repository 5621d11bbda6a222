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
  FrameName name;
};

constexpr RequestKind kRequests[] = {
    {kCmdConnect, 0, FrameName::Connect},
    {kCmdInitFlash, 2, FrameName::Init},
    {kCmdInitFlash, 9, FrameName::Flash},
    {kCmdSend, -1, FrameName::Send},
};

bool IsFramed(const uint8_t* frame, size_t length) {
  return length >= kHeaderSize && frame[0] == kSync1 && frame[1] == kSync2 &&
         length == kHeaderSize + frame[kOffLength];
}

}  // namespace

FrameName RequestName(const uint8_t* frame, size_t length, bool lastChunk) {
  if (!IsFramed(frame, length)) return FrameName::Unknown;
  for (const auto& kind : kRequests) {
    if (frame[kOffCommand] != kind.command) continue;
    if (kind.length >= 0 && frame[kOffLength] != kind.length) continue;
    if (kind.command == kCmdSend && lastChunk) return FrameName::SendLast;
    return kind.name;
  }
  return FrameName::Unknown;
}

FrameName ReplyName(const uint8_t* frame, size_t length) {
  const auto count = static_cast<int32_t>(length);
  if (length < kHeaderSize || frame[0] != kSync1 || frame[1] != kSync2) return FrameName::Unknown;
  if (IsAckReply(frame, count)) return FrameName::Ack;
  if (IsConnectReply(frame, count)) return FrameName::ConnectReply;
  return FrameName::Unknown;
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

std::string FormatTraceLine(int64_t monotonicUs, const std::string& port, bool sent, FrameName name,
                            const uint8_t* frame, size_t length) {
  char head[64];
  std::snprintf(head, sizeof head, "%" PRId64 " ", monotonicUs);
  char tail[32];
  std::snprintf(tail, sizeof tail, " %s %-13s ", sent ? "TX" : "RX", FrameNameText(name));
  return head + DisplayText(port) + tail + HexBytes(frame, length);
}

}  // namespace vexel::cli

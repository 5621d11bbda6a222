// Names and trace lines for the frames on the line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "protocol/frame_name.h"

namespace vexel::cli {

/// What a request the loader wrote is: Connect, Init, Send, SendLast, Flash
/// or Unknown. SEND and SENDLAST share a command byte; @p lastChunk says
/// whether this chunk carries the end of the image.
FrameName RequestName(const uint8_t* frame, size_t length, bool lastChunk);

/// What a frame the loader received is: ConnectReply, Ack or Unknown.
FrameName ReplyName(const uint8_t* frame, size_t length);

/// "B0 EF 01 00": upper-case hex, one space apart.
std::string HexBytes(const uint8_t* bytes, size_t length);

/// One trace line without its newline:
/// "<monotonic µs> <port> TX|RX <name padded to 13> <hex bytes>".
std::string FormatTraceLine(int64_t monotonicUs, const std::string& port, bool sent, FrameName name,
                            const uint8_t* frame, size_t length);

}  // namespace vexel::cli

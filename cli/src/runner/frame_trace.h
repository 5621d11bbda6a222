// Names and trace lines for the frames on the line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vexel::cli {

/// The name of a request the loader wrote: CONNECT, INIT, SEND, SENDLAST,
/// FLASH, or "?". SEND and SENDLAST share a command byte; @p lastChunk says
/// whether this chunk carries the end of the image.
const char* RequestName(const uint8_t* frame, size_t length, bool lastChunk);

/// The name of a frame the loader received: CONNECT-REPLY, ACK, or "?".
const char* ReplyName(const uint8_t* frame, size_t length);

/// "B0 EF 01 00": upper-case hex, one space apart.
std::string HexBytes(const uint8_t* bytes, size_t length);

/// One trace line without its newline:
/// "<monotonic µs> <port> TX|RX <name padded to 13> <hex bytes>".
std::string FormatTraceLine(int64_t monotonicUs, const std::string& port, bool sent,
                            const char* name, const uint8_t* frame, size_t length);

}  // namespace vexel::cli

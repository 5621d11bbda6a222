// The serial line's fixed format, which the loader sets, the simulator paces
// and the command line's rates are measured against: 57600 baud 8E2.
#pragma once

#include <cstdint>

namespace vexel {

/// The line's baud rate.
constexpr uint32_t kLineBaudRate = 57600;
/// Bits on the line per byte at 8E2: start, 8 data, even parity, 2 stop.
constexpr uint32_t kLineBitsPerByte = 12;

}  // namespace vexel

// The loader's requests and the module's replies, byte for byte, for the
// simulator's tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace vexel::sim::test {

using Bytes = std::vector<uint8_t>;

inline const Bytes kConnect{0xB0, 0xEF,   // sync
                            0x01, 0x00};  // CONNECT, no payload
inline const Bytes kInit{0xB0, 0xEF,      // sync
                         0x55, 0x02,      // INIT/FLASH command, two payload bytes
                         0xAA, 0x04};     // INIT's payload
inline const Bytes kFlash{0xB0, 0xEF,     // sync
                          0x55, 0x09,     // INIT/FLASH command, nine payload bytes
                          0x55, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x01};
inline const Bytes kConnectReply{0xB0, 0xEF,  // sync
                                 0x00, 0x01,  // connect reply, one payload byte
                                 0x00};
inline const Bytes kAck{0xB0, 0xEF,  // sync
                        0xAA, 0x01,  // ACK, one payload byte
                        0x00};       // accepted
inline const Bytes kWrongAck{0xB0, 0xEF, 0xAA, 0x01, 0x01};
inline const Bytes kWrongConnectReply{0xB0, 0xEF, 0x00, 0x02, 0x00, 0x00};

// Sized once and filled: GCC 12 at -O3 takes an insert after a four-byte
// list initialisation for a write past those four bytes (-Warray-bounds).
inline Bytes Chunk(const Bytes& payload) {
  Bytes frame(4 + payload.size());
  frame[0] = 0xB0, frame[1] = 0xEF;                 // sync
  frame[2] = 0x66;                                  // SEND/SENDLAST
  frame[3] = static_cast<uint8_t>(payload.size());  // n payload bytes
  std::copy(payload.begin(), payload.end(), frame.begin() + 4);
  return frame;
}

/// Image bytes that start with the sync pair, so a payload is never searched.
inline Bytes Pattern(size_t length) {
  Bytes image(length);
  for (size_t i = 0; i < length; ++i) image[i] = static_cast<uint8_t>(i * 7 + 0xB0);
  if (length >= 2) image[0] = 0xB0, image[1] = 0xEF;
  return image;
}

/// The data chunks a correct loader sends: SEND while more than 64 bytes
/// remain, then one SENDLAST of the rest (0 to 64 bytes).
inline std::vector<Bytes> ChunksOf(const Bytes& image) {
  std::vector<Bytes> chunks;
  size_t pos = 0;
  for (;;) {
    const size_t take = std::min<size_t>(64, image.size() - pos);
    chunks.push_back(Chunk(Bytes(image.begin() + pos, image.begin() + pos + take)));
    const bool last = image.size() - pos <= 64;
    pos += take;
    if (last) return chunks;
  }
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

/// INIT, the chunks and FLASH of one run, as one stream.
inline Bytes RunOf(const Bytes& image) {
  Bytes stream = kInit;
  for (const Bytes& chunk : ChunksOf(image))
    stream.insert(stream.end(), chunk.begin(), chunk.end());
  stream.insert(stream.end(), kFlash.begin(), kFlash.end());
  return stream;
}

}  // namespace vexel::sim::test

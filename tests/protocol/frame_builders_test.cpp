// The requests the loader writes, byte for byte, and how an image is cut
// into SEND and SENDLAST chunks.
#include <gtest/gtest.h>

#include "loader_rig.h"

namespace vexel::testing {
namespace {

const Bytes kConnect{0xB0, 0xEF,   // sync
                     0x01, 0x00};  // CONNECT, no payload
const Bytes kInit{0xB0, 0xEF,      // sync
                  0x55, 0x02,      // INIT, two payload bytes
                  0xAA, 0x04};
const Bytes kFlash{0xB0, 0xEF,  // sync
                   0x55, 0x09,  // FLASH, nine payload bytes
                   0x55, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x01};

Bytes DataFrame(const Bytes& image, size_t offset, size_t length) {
  Bytes frame(4 + length);
  frame[0] = 0xB0;
  frame[1] = 0xEF;
  frame[2] = 0x66;  // SEND or SENDLAST
  frame[3] = static_cast<uint8_t>(length);
  for (size_t i = 0; i < length; ++i) frame[4 + i] = image[offset + i];
  return frame;
}

struct ChunkCase {
  size_t imageLength;
  std::vector<size_t> chunks;  // payload length of each data frame, the last is SENDLAST
};

class Chunking : public ::testing::TestWithParam<ChunkCase> {};

TEST_P(Chunking, SendsEveryByteOnceInChunksOf64ThenFlash) {
  const ChunkCase& c = GetParam();
  LoaderRig rig;
  const Bytes image = Pattern(c.imageLength);
  rig.Connect();
  rig.Run(image);

  std::vector<Bytes> expected{kConnect, kInit};
  size_t offset = 0;
  for (size_t length : c.chunks) {
    expected.push_back(DataFrame(image, offset, length));
    offset += length;
  }
  expected.push_back(kFlash);
  EXPECT_EQ(rig.Writes(), expected);
  ASSERT_EQ(rig.module.FlashedImages().size(), 1u);
  EXPECT_EQ(rig.module.FlashedImages()[0], image);
  EXPECT_EQ(rig.host.Status(), text::kModuleLoaded);
  EXPECT_TRUE(rig.module.Violations().empty());
}

INSTANTIATE_TEST_SUITE_P(
    ImageLengths, Chunking,
    ::testing::Values(ChunkCase{0, {0}},                                 // one empty SENDLAST
                      ChunkCase{1, {1}}, ChunkCase{64, {64}},            // one full SENDLAST
                      ChunkCase{65, {64, 1}}, ChunkCase{128, {64, 64}},  // no empty chunk after
                      ChunkCase{129, {64, 64, 1}}, ChunkCase{200, {64, 64, 64, 8}}),
    [](const auto& p) { return "Bytes" + std::to_string(p.param.imageLength); });

TEST(Chunking, SyncPairInsideAPayloadGoesOutUnchanged) {
  LoaderRig rig;
  Bytes image = Pattern(130);
  image[10] = 0xB0;
  image[11] = 0xEF;
  image[63] = 0xB0;  // the pair split across two chunks
  image[64] = 0xEF;
  rig.Connect();
  rig.Run(image);

  ASSERT_EQ(rig.Writes().size(), 2u + 3u + 1u);
  EXPECT_EQ(rig.Writes()[2], DataFrame(image, 0, 64));
  EXPECT_EQ(rig.Writes()[3], DataFrame(image, 64, 64));
  ASSERT_EQ(rig.module.FlashedImages().size(), 1u);
  EXPECT_EQ(rig.module.FlashedImages()[0], image);
}

TEST(Chunking, InitAndFlashAreTheSameOnEveryRun) {
  LoaderRig rig;
  rig.Connect();
  rig.Run(Pattern(3));
  rig.Run(Pattern(70));
  const auto& w = rig.Writes();
  ASSERT_EQ(w.size(), 1u + 3u + 4u);
  EXPECT_EQ(w[1], kInit);
  EXPECT_EQ(w[3], kFlash);
  EXPECT_EQ(w[4], kInit);
  EXPECT_EQ(w[7], kFlash);
  EXPECT_EQ(rig.module.FlashedImages().size(), 2u);
}

}  // namespace
}  // namespace vexel::testing

// The simulated module's replies, faults and loader checks, byte for byte.
#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "sim/module_simulator.h"
#include "test_frames.h"

namespace vexel::sim {
namespace {

using namespace test;

std::vector<Delivery> Feed(ModuleSimulator& sim, const Bytes& bytes) {
  return sim.Consume(bytes.data(), bytes.size());
}

Bytes Joined(const std::vector<Delivery>& deliveries) {
  Bytes out;
  for (const Delivery& d : deliveries) out.insert(out.end(), d.bytes.begin(), d.bytes.end());
  return out;
}

TEST(ModuleSimulatorTest, AnswersEachRequestWithItsReply) {
  const struct {
    const char* name;
    Bytes request;
    Bytes reply;
  } kCases[] = {
      {"CONNECT", kConnect, kConnectReply},
      {"INIT", kInit, kAck},
      {"SEND", Chunk(Pattern(64)), kAck},
      {"SENDLAST", Chunk(Pattern(8)), kAck},
      {"FLASH", kFlash, kAck},
  };
  ModuleSimulator sim;
  for (const auto& c : kCases) {
    const std::vector<Delivery> out = Feed(sim, c.request);
    ASSERT_EQ(out.size(), 1u) << c.name;
    EXPECT_EQ(out[0].bytes, c.reply) << c.name;
    EXPECT_EQ(out[0].delayMs, 0u) << c.name;
    EXPECT_FALSE(out[0].hangUp) << c.name;
  }
  EXPECT_EQ(sim.RequestCount(), 5u);
  EXPECT_TRUE(sim.Violations().empty());
  ASSERT_EQ(sim.FlashedImages().size(), 1u);
  EXPECT_EQ(sim.FlashedImages()[0], Cat({Pattern(64), Pattern(8)}));
}

TEST(ModuleSimulatorTest, RecordsImagesIntactRunAfterRun) {
  ModuleSimulator sim;
  const std::vector<size_t> kLengths{200, 0, 1, 64, 65, 128, 129};
  std::vector<Bytes> images;
  Feed(sim, kConnect);
  for (size_t length : kLengths) {
    images.push_back(Pattern(length));
    Bytes stream = RunOf(images.back());
    const std::vector<Delivery> out = Feed(sim, stream);
    // INIT, every chunk and FLASH each get one ACK.
    const size_t chunks = length == 0 ? 1 : (length - 1) / 64 + 1;
    EXPECT_EQ(out.size(), chunks + 2) << length;
    for (const Delivery& d : out) EXPECT_EQ(d.bytes, kAck) << length;
  }
  EXPECT_EQ(sim.FlashedImages(), images);
  EXPECT_TRUE(sim.Violations().empty());
}

TEST(ModuleSimulatorTest, TwoHundredByteImageGoesAsFourChunks) {
  const Bytes image = Pattern(200);
  const Bytes stream = RunOf(image);
  // INIT 6 + 3 * 68 + (4 + 8) + FLASH 13.
  EXPECT_EQ(stream.size(), 6u + 3 * 68 + 12 + 13);
  ModuleSimulator sim;
  Feed(sim, Cat({kConnect, stream}));
  ASSERT_EQ(sim.FlashedImages().size(), 1u);
  EXPECT_EQ(sim.FlashedImages()[0], image);
  EXPECT_EQ(sim.Step(), 6);  // INIT 1, chunks 2..5, FLASH 6
}

// Whatever the loader's writes look like on the way, the module sees the
// same requests and makes the same replies.
TEST(ModuleSimulatorTest, ReadsRequestsSplitAnywhere) {
  const Bytes stream = Cat(
      {kConnect, RunOf(Pattern(200)), {0x41, 0x42}, kConnect, RunOf(Pattern(5))});
  ModuleSimulator whole;
  const Bytes expected = Joined(Feed(whole, stream));
  ASSERT_EQ(whole.FlashedImages().size(), 2u);
  ASSERT_EQ(whole.Violations().size(), 1u);
  for (size_t piece = 1; piece <= 70; piece += 3) {
    ModuleSimulator sim;
    Bytes replies;
    for (size_t pos = 0; pos < stream.size(); pos += piece) {
      const size_t n = std::min(piece, stream.size() - pos);
      Bytes part = Joined(sim.Consume(stream.data() + pos, n));
      replies.insert(replies.end(), part.begin(), part.end());
    }
    EXPECT_EQ(replies, expected) << piece;
    EXPECT_EQ(sim.FlashedImages(), whole.FlashedImages()) << piece;
    ASSERT_EQ(sim.Violations().size(), 1u) << piece;
    EXPECT_EQ(sim.Violations()[0].text, whole.Violations()[0].text) << piece;
  }
}

struct FaultCase {
  const char* name;
  Fault fault;
  std::vector<Delivery> expected;  // the deliveries at the fault's step
};

Bytes OversizedFrame() {
  Bytes frame{0xB0, 0xEF, 0xAA, 0xFD};  // ACK command, 253 payload bytes
  for (size_t i = 0; i < 253; ++i) frame.push_back(static_cast<uint8_t>(i % 0x80));
  return frame;
}

std::vector<Delivery> OneBytePerDelivery(const Bytes& bytes, uint32_t firstDelay = 0) {
  std::vector<Delivery> out;
  for (size_t i = 0; i < bytes.size(); ++i)
    out.push_back({i == 0 ? firstDelay : 0, {bytes[i]}, false});
  return out;
}

bool SameDeliveries(const std::vector<Delivery>& a, const std::vector<Delivery>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].delayMs != b[i].delayMs || a[i].bytes != b[i].bytes || a[i].hangUp != b[i].hangUp) {
      return false;
    }
  }
  return true;
}

std::string Describe(const std::vector<Delivery>& deliveries) {
  std::string text;
  for (const Delivery& d : deliveries) {
    text += "[+" + std::to_string(d.delayMs) + "ms" + (d.hangUp ? " hangup" : "");
    for (uint8_t b : d.bytes) text += " " + std::to_string(b);
    text += "]";
  }
  return text;
}

// The requests of a connect and a 100-byte run; step i is request i.
std::vector<Bytes> SessionRequests() {
  const Bytes image = Pattern(100);
  return {kConnect, kInit, Chunk(Bytes(image.begin(), image.begin() + 64)),
          Chunk(Bytes(image.begin() + 64, image.end())), kFlash};
}

TEST(ModuleSimulatorTest, ShapesEachFaultsDeliveriesExactly) {
  const Bytes noisy3 = Cat({{0x00, 0xFF, 0x55}, kAck});
  const FaultCase kCases[] = {
      {"no connect reply", {FaultKind::NoReply, 0, 0, false}, {}},
      {"silence at a chunk", {FaultKind::NoReply, 2, 0, false}, {}},
      {"late connect reply",
       {FaultKind::DelayedReply, 0, 1500, false},
       {{1500, kConnectReply, false}}},
      {"late ACK", {FaultKind::DelayedReply, 3, 700, false}, {{700, kAck, false}}},
      {"wrong connect reply",
       {FaultKind::WrongReply, 0, 0, false},
       {{0, kWrongConnectReply, false}}},
      {"wrong ACK", {FaultKind::WrongReply, 1, 0, false}, {{0, kWrongAck, false}}},
      {"default noise", {FaultKind::Noise, 1, 0, false}, {{0, noisy3, false}}},
      {"four noise bytes",
       {FaultKind::Noise, 4, 4, false},
       {{0, Cat({{0x00, 0xFF, 0x55, 0x00}, kAck}), false}}},
      {"split ACK", {FaultKind::SplitReply, 2, 0, false}, OneBytePerDelivery(kAck)},
      {"oversized frame",
       {FaultKind::OversizedFrame, 3, 0, false},
       {{0, OversizedFrame(), false}, {0, kAck, false}}},
      {"hang-up", {FaultKind::HangUp, 4, 0, false}, {{0, {}, true}}},
  };
  for (const FaultCase& c : kCases) {
    ModuleSimulator sim;
    sim.AddFault(c.fault);
    const std::vector<Bytes> requests = SessionRequests();
    for (int step = 0; step < static_cast<int>(requests.size()); ++step) {
      const std::vector<Delivery> out = Feed(sim, requests[step]);
      const Bytes right = step == 0 ? kConnectReply : kAck;
      const std::vector<Delivery> expected = step == c.fault.step
                                                 ? c.expected
                                                 : std::vector<Delivery>{{0, right, false}};
      EXPECT_TRUE(SameDeliveries(out, expected))
          << c.name << " at step " << step << ": " << Describe(out) << " expected "
          << Describe(expected);
    }
    EXPECT_TRUE(sim.Violations().empty()) << c.name;
  }
}

TEST(ModuleSimulatorTest, CombinesFaultsAtOneStep) {
  const struct {
    const char* name;
    std::vector<Fault> faults;
    std::vector<Delivery> expected;
  } kCases[] = {
      {"noise and split",
       {{FaultKind::Noise, 1, 2, false}, {FaultKind::SplitReply, 1, 0, false}},
       OneBytePerDelivery(Cat({{0x00, 0xFF}, kAck}))},
      {"delay and split",
       {{FaultKind::DelayedReply, 1, 300, false}, {FaultKind::SplitReply, 1, 0, false}},
       OneBytePerDelivery(kAck, 300)},
      {"oversize, noise and delay",
       {{FaultKind::OversizedFrame, 1, 0, false},
        {FaultKind::Noise, 1, 1, false},
        {FaultKind::DelayedReply, 1, 50, false}},
       {{50, OversizedFrame(), false}, {0, Cat({{0x00}, kAck}), false}}},
      {"wrong and noise",
       {{FaultKind::WrongReply, 1, 0, false}, {FaultKind::Noise, 1, 3, false}},
       {{0, Cat({{0x00, 0xFF, 0x55}, kWrongAck}), false}}},
      {"noise then hang-up",
       {{FaultKind::Noise, 1, 1, false}, {FaultKind::HangUp, 1, 0, false}},
       {{0, {0x00}, false}, {0, {}, true}}},
      {"noise without a reply",
       {{FaultKind::Noise, 1, 3, false}, {FaultKind::NoReply, 1, 0, false}},
       {{0, {0x00, 0xFF, 0x55}, false}}},
  };
  for (const auto& c : kCases) {
    ModuleSimulator sim;
    for (const Fault& f : c.faults) sim.AddFault(f);
    Feed(sim, kConnect);
    const std::vector<Delivery> out = Feed(sim, kInit);
    EXPECT_TRUE(SameDeliveries(out, c.expected)) << c.name << ": " << Describe(out);
  }
}

TEST(ModuleSimulatorTest, OnceFaultsApplyToTheFirstRunOnly) {
  ModuleSimulator sim;
  sim.AddFault({FaultKind::NoReply, 1, 0, false});
  sim.AddFault({FaultKind::WrongReply, 0, 0, true});
  for (int run = 0; run < 3; ++run) {
    EXPECT_EQ(Joined(Feed(sim, kConnect)), kWrongConnectReply) << run;
    EXPECT_EQ(Joined(Feed(sim, kInit)), run == 0 ? Bytes{} : kAck) << run;
  }
}

TEST(ModuleSimulatorTest, StepsRestartAtInitAndConnect) {
  ModuleSimulator sim;
  EXPECT_EQ(sim.Step(), -1);
  Feed(sim, kConnect);
  EXPECT_EQ(sim.Step(), 0);
  Feed(sim, Cat({kInit, Chunk(Pattern(64)), Chunk(Pattern(3))}));
  EXPECT_EQ(sim.Step(), 3);
  Feed(sim, kFlash);
  EXPECT_EQ(sim.Step(), 4);
  Feed(sim, kInit);
  EXPECT_EQ(sim.Step(), 1);
  Feed(sim, {0xB0, 0xEF, 0x77, 0x00});  // unknown: not a step
  EXPECT_EQ(sim.Step(), 1);
  Feed(sim, kConnect);
  EXPECT_EQ(sim.Step(), 0);
}

struct ViolationCase {
  const char* name;
  Bytes stream;
  std::vector<std::pair<ViolationKind, std::string>> expected;
  Bytes replies;
  size_t flashed;
};

TEST(ModuleSimulatorTest, ReportsEachLoaderViolation) {
  const Bytes c64 = Chunk(Pattern(64));
  const Bytes c8 = Chunk(Pattern(8));
  const ViolationCase kCases[] = {
      {"send before init",
       Cat({kConnect, c8}),
       {{ViolationKind::SendBeforeInit, "chunk of 8 bytes before INIT"}},
       Cat({kConnectReply, kAck}),
       0},
      {"oversized chunk",
       Cat({kConnect, kInit, Chunk(Pattern(65)), kFlash}),
       {{ViolationKind::OversizedChunk, "chunk of 65 bytes (limit 64)"}},
       Cat({kConnectReply, kAck, kAck, kAck}),
       1},
      {"data after last",
       Cat({kConnect, kInit, c8, c8}),
       {{ViolationKind::DataAfterLast, "chunk of 8 bytes after the last chunk of a 8-byte image"}},
       Cat({kConnectReply, kAck, kAck, kAck}),
       0},
      {"init mid image",
       Cat({kConnect, kInit, c64, kInit}),
       {{ViolationKind::InitMidImage,
         "INIT in the middle of an image (64 bytes in 1 chunks received)"}},
       Cat({kConnectReply, kAck, kAck, kAck}),
       0},
      {"two images before flash",
       Cat({kConnect, kInit, c8, kInit, c8, kFlash}),
       {{ViolationKind::TwoImagesBeforeFlash,
         "INIT after a complete image of 8 bytes that was not flashed"}},
       Cat({kConnectReply, kAck, kAck, kAck, kAck, kAck}),
       1},
      {"flash with no image",
       Cat({kConnect, kFlash}),
       {{ViolationKind::FlashWithoutImage, "FLASH with no image started"}},
       Cat({kConnectReply, kAck}),
       0},
      {"flash after an empty init",
       Cat({kConnect, kInit, kFlash}),
       {{ViolationKind::FlashWithoutImage, "FLASH after INIT with no data"}},
       Cat({kConnectReply, kAck, kAck}),
       0},
      {"noise once per run",
       Cat({{0x01, 0x02, 0xB0, 0x41}, kConnect, {0xB0, 0xB0, 0xEF, 0x01, 0x00}}),
       {{ViolationKind::Noise, "noise between requests, starting with byte 0x01"},
        {ViolationKind::Noise, "noise between requests, starting with byte 0xB0"}},
       Cat({kConnectReply, kConnectReply}),
       0},
      {"unknown request",
       Cat({kConnect, {0xB0, 0xEF, 0x55, 0x02, 0xAA, 0x05}}),
       {{ViolationKind::UnknownRequest, "unknown request: command 0x55 with 2 payload bytes"}},
       kConnectReply,
       0},
      {"reconnect drops a partial image",
       Cat({kConnect, kInit, c64, kConnect, kInit, c8, kFlash}),
       {},
       Cat({kConnectReply, kAck, kAck, kConnectReply, kAck, kAck, kAck}),
       1},
  };
  for (const ViolationCase& c : kCases) {
    ModuleSimulator sim;
    EXPECT_EQ(Joined(Feed(sim, c.stream)), c.replies) << c.name;
    std::vector<std::pair<ViolationKind, std::string>> seen;
    for (const Violation& v : sim.Violations()) seen.emplace_back(v.kind, v.text);
    EXPECT_EQ(seen, c.expected) << c.name;
    EXPECT_EQ(sim.FlashedImages().size(), c.flashed) << c.name;
  }
}

TEST(ModuleSimulatorTest, OversizedChunkIsKeptInTheImage) {
  ModuleSimulator sim;
  Feed(sim, Cat({kConnect, kInit, Chunk(Pattern(100)), kFlash}));
  ASSERT_EQ(sim.FlashedImages().size(), 1u);
  EXPECT_EQ(sim.FlashedImages()[0], Pattern(100));
}

TEST(ModuleSimulatorTest, ResetLineForgetsPartialRequestAndImage) {
  ModuleSimulator sim;
  Feed(sim, Cat({kConnect, kInit, Chunk(Pattern(64)), {0xB0, 0xEF, 0x66}}));
  sim.ResetLine();
  // The half request is gone, and a chunk now has no image to go to.
  const std::vector<Delivery> out = Feed(sim, Chunk(Pattern(2)));
  EXPECT_EQ(Joined(out), kAck);
  ASSERT_EQ(sim.Violations().size(), 1u);
  EXPECT_EQ(sim.Violations()[0].kind, ViolationKind::SendBeforeInit);
}

class RecordingObserver : public SimObserver {
 public:
  void OnRequest(const char* name, const std::vector<uint8_t>& frame, int step) override {
    events.push_back(std::string(name) + "@" + std::to_string(step) + "/" +
                     std::to_string(frame.size()));
  }
  void OnReply(const std::vector<uint8_t>& bytes) override {
    events.push_back("reply/" + std::to_string(bytes.size()));
  }
  void OnImageFlashed(const std::vector<uint8_t>& image) override {
    events.push_back("image/" + std::to_string(image.size()));
  }
  void OnViolation(const Violation& violation) override {
    events.push_back("violation:" + violation.text);
  }
  std::vector<std::string> events;
};

TEST(ModuleSimulatorTest, TellsTheObserverInOrder) {
  RecordingObserver observer;
  ModuleSimulator sim(&observer);
  sim.AddFault({FaultKind::SplitReply, 0, 0, false});
  Feed(sim, Cat({kConnect,
                 kInit,
                 Chunk(Pattern(64)),
                 Chunk(Pattern(64)),
                 kFlash,
                 {0x07},
                 {0xB0, 0xEF, 0x09, 0x00}}));
  const std::vector<std::string> expected{
      "CONNECT@0/4",  "reply/1",
      "reply/1",      "reply/1",
      "reply/1",      "reply/1",
      "INIT@1/6",     "reply/5",
      "SEND@2/68",    "reply/5",
      "SEND@3/68",    "reply/5",
      "FLASH@4/13",   "image/128",
      "reply/5",      "violation:noise between requests, starting with byte 0x07",
      "UNKNOWN@-1/4", "violation:unknown request: command 0x09 with 0 payload bytes"};
  EXPECT_EQ(observer.events, expected);
}

TEST(ParseFaultTest, ReadsEveryKind) {
  const struct {
    const char* spec;
    FaultKind kind;
    int step;
    uint32_t param;
    bool everyRun;
    const char* formatted;
  } kCases[] = {
      {"noreply@0", FaultKind::NoReply, 0, 0, false, "noreply@0"},
      {"silence@4", FaultKind::NoReply, 4, 0, false, "noreply@4"},
      {"delay:1500@0", FaultKind::DelayedReply, 0, 1500, false, "delay:1500@0"},
      {"wrong@3", FaultKind::WrongReply, 3, 0, false, "wrong@3"},
      {"noise:4@1", FaultKind::Noise, 1, 4, false, "noise:4@1"},
      {"noise@1", FaultKind::Noise, 1, 3, false, "noise:3@1"},
      {"split@2", FaultKind::SplitReply, 2, 0, false, "split@2"},
      {"oversize@2", FaultKind::OversizedFrame, 2, 0, false, "oversize@2"},
      {"hangup@5", FaultKind::HangUp, 5, 0, false, "hangup@5"},
      {"noise:4@3!", FaultKind::Noise, 3, 4, true, "noise:4@3!"},
      {"wrong@1*", FaultKind::WrongReply, 1, 0, true, "wrong@1!"},
  };
  for (const auto& c : kCases) {
    Fault fault;
    std::string error;
    ASSERT_TRUE(ParseFault(c.spec, fault, error)) << c.spec << ": " << error;
    EXPECT_EQ(fault.kind, c.kind) << c.spec;
    EXPECT_EQ(fault.step, c.step) << c.spec;
    EXPECT_EQ(fault.param, c.param) << c.spec;
    EXPECT_EQ(fault.everyRun, c.everyRun) << c.spec;
    EXPECT_EQ(FormatFault(fault), c.formatted) << c.spec;
  }
}

TEST(ParseFaultTest, RefusesBadSpecs) {
  const struct {
    const char* spec;
    const char* error;
  } kCases[] = {
      {"", "bad fault '': expected KIND[:N]@STEP[!]"},
      {"noreply", "bad fault 'noreply': expected KIND[:N]@STEP[!]"},
      {"noreply@", "bad fault 'noreply@': STEP must be a number"},
      {"noreply@-1", "bad fault 'noreply@-1': STEP must be a number"},
      {"noreply@x", "bad fault 'noreply@x': STEP must be a number"},
      {"bogus@1", "bad fault 'bogus@1': unknown kind"},
      {"delay@1", "bad fault 'delay@1': this kind needs ':N'"},
      {"delay:abc@1", "bad fault 'delay:abc@1': N must be a number from 1 to the kind's limit"},
      {"delay:0@1", "bad fault 'delay:0@1': N must be a number from 1 to the kind's limit"},
      {"noise:5000@1", "bad fault 'noise:5000@1': N must be a number from 1 to the kind's limit"},
      {"wrong:2@1", "bad fault 'wrong:2@1': this kind takes no ':N'"},
      {"split@1!!", "bad fault 'split@1!!': STEP must be a number"},
  };
  for (const auto& c : kCases) {
    Fault fault;
    std::string error;
    EXPECT_FALSE(ParseFault(c.spec, fault, error)) << c.spec;
    EXPECT_EQ(error, c.error) << c.spec;
  }
}

}  // namespace
}  // namespace vexel::sim

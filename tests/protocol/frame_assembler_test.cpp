// Assembly of reply frames from the bytes that arrive, one receive
// notification at a time.
#include <gtest/gtest.h>

#include "loader_rig.h"

namespace vexel::testing {
namespace {

const Bytes kAck{0xB0, 0xEF, 0xAA, 0x01, 0x00};

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

class FrameLog : public FrameObserver {
 public:
  void OnFrameSent(const uint8_t*, size_t) override {}
  void OnFrameReceived(const uint8_t* frame, size_t length) override {
    frames.emplace_back(frame, frame + length);
  }
  std::vector<Bytes> frames;
};

struct Counters {
  int32_t rxCount;
  bool rxDone;
  bool operator==(const Counters& o) const { return rxCount == o.rxCount && rxDone == o.rxDone; }
};

void PrintTo(const Counters& c, std::ostream* os) {
  *os << "{" << c.rxCount << ", " << (c.rxDone ? "done" : "partial") << "}";
}

struct AssemblyCase {
  const char* name;
  std::vector<Bytes> arrivals;  // one receive notification each
  std::vector<Counters> after;  // the assembler's counters after each
  std::vector<Bytes> frames;    // complete frames handed on for judging
  size_t leftQueued;            // bytes still waiting in the port at the end
};

// The line is open and probing; the module stays silent, so only the bytes
// of each case arrive. In Probing a complete frame other than a connect
// reply is dropped after judging, which resets the counters to {0, done}.
const AssemblyCase kCases[] = {
    {"NoiseBeforeAck", {Cat({{0x00}, kAck})}, {{0, true}}, {kAck}, 0},
    {"AckOverFourNotifications",
     {{0xB0}, {0xEF, 0xAA}, {0x01}, {0x00}},
     {{1, false}, {3, false}, {4, false}, {0, true}},
     {kAck},
     0},
    {"FrameWithoutPayload", {{0xB0, 0xEF, 0x01, 0x00}}, {{0, true}}, {{0xB0, 0xEF, 0x01, 0x00}}, 0},
    {"WrongSecondSyncRestartsHunt", {Cat({{0xB0, 0x41}, kAck})}, {{0, true}}, {kAck}, 0},
    {"SecondB0IsAWrongSync2", {Cat({{0xB0}, kAck})}, {{0, true}}, {}, 0},
    {"TwoAcksOneAtATime", {Cat({kAck, kAck}), {}}, {{0, true}, {0, true}}, {kAck, kAck}, 0},
    {"ConnectReplyWaitingForFifthByte",
     {{0xB0, 0xEF, 0x00, 0x01}, {0x7F}},
     {{4, false}, {5, true}},  // accepted: the counters are kept
     {{0xB0, 0xEF, 0x00, 0x01, 0x7F}},
     0},
    {"OversizedFrameDroppedThenAckFound",
     {Cat({{0xB0, 0xEF, 0xAA, 0xFD}, Bytes(253, 0x11), kAck})},
     {{0, true}},
     {kAck},
     0},
    {"OversizedHeaderAloneThenRest",
     {{0xB0, 0xEF, 0xAA, 0xFF}, Bytes(255, 0x22), kAck},
     {{0, true}, {0, true}, {0, true}},
     {kAck},
     0},
};

class Assembly : public ::testing::TestWithParam<AssemblyCase> {};

TEST_P(Assembly, CountersAndFrames) {
  const AssemblyCase& c = GetParam();
  LoaderRig rig;
  FrameLog log;
  rig.controller.SetFrameObserver(&log);
  rig.Fault(sim::FaultKind::NoReply, 0);
  rig.controller.ToggleConnection();
  rig.clock.RunDue();
  ASSERT_TRUE(rig.port.IsOpen());

  for (size_t i = 0; i < c.arrivals.size(); ++i) {
    rig.port.Inject(c.arrivals[i]);
    rig.clock.RunDue();
    EXPECT_EQ((Counters{rig.controller.RxCount(), rig.controller.RxDone()}), c.after[i])
        << "after arrival " << i;
  }
  EXPECT_EQ(log.frames, c.frames);
  EXPECT_EQ(rig.port.QueuedBytes(), c.leftQueued);
}

INSTANTIATE_TEST_SUITE_P(Cases, Assembly, ::testing::ValuesIn(kCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Assembly, LargestFrameThatFitsIsHeldWhole) {
  LoaderRig rig;
  FrameLog log;
  rig.controller.SetFrameObserver(&log);
  rig.Fault(sim::FaultKind::NoReply, 0);
  rig.controller.ToggleConnection();
  Bytes frame = Cat({{0xB0, 0xEF, 0xAA, 0xFC}, Bytes(252, 0x33)});
  rig.port.Inject(frame);
  rig.clock.RunDue();
  ASSERT_EQ(log.frames.size(), 1u);
  EXPECT_EQ(log.frames[0], frame);
}

TEST(Assembly, ReceiveTogetherWithErrorLeavesBytesQueued) {
  LoaderRig rig;
  FrameLog log;
  rig.controller.SetFrameObserver(&log);
  rig.Fault(sim::FaultKind::NoReply, 0);
  rig.controller.ToggleConnection();
  rig.port.Inject({0xB0, 0xEF}, kEventRxChar);
  rig.clock.RunDue();
  ASSERT_EQ(rig.controller.RxCount(), 2);

  rig.port.Inject({0x00, 0x01, 0x00}, kEventRxChar | kEventError);  // 0x81: not a plain receive
  rig.clock.RunDue();
  EXPECT_EQ(rig.controller.RxCount(), 0);
  EXPECT_TRUE(rig.controller.RxDone());
  EXPECT_EQ(rig.port.QueuedBytes(), 3u);
  EXPECT_TRUE(log.frames.empty());

  rig.port.Inject(kAck);  // the next plain receive reads what waited first
  rig.clock.RunDue();
  EXPECT_EQ(rig.port.QueuedBytes(), 0u);
  EXPECT_EQ(log.frames, std::vector<Bytes>{kAck});
}

}  // namespace
}  // namespace vexel::testing

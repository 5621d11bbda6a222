// The connect probe, the programming run and every failure path, against the
// simulated module on virtual time.
#include <gtest/gtest.h>

#include <utility>

#include "loader_rig.h"

namespace vexel::testing {
namespace {

using sim::FaultKind;
using Events = std::vector<std::string>;

const Bytes kAck{0xB0, 0xEF, 0xAA, 0x01, 0x00};

// ---- Connect and the probe window ---------------------------------------

TEST(Connect, SetsTheLineAndDeclaresConnectedWhenTheWindowEnds) {
  LoaderRig rig;
  rig.controller.ToggleConnection();
  EXPECT_EQ(rig.port.OpenedName(), "COM1");
  EXPECT_EQ(rig.port.BaudRate(), 57600u);
  EXPECT_EQ(rig.port.Parity(), kParityEven);
  EXPECT_EQ(rig.port.StopBits(), kTwoStopBits);
  EXPECT_EQ(rig.port.Flow(), FlowNone);
  EXPECT_EQ(rig.port.Mode(), ReadNonBlocking);
  EXPECT_EQ(rig.Writes(), (std::vector<Bytes>{{0xB0, 0xEF, 0x01, 0x00}}));

  rig.clock.AdvanceBy(kConnectWindowMs - 1);  // the reply came long ago
  EXPECT_EQ(rig.controller.State(), Ready);
  EXPECT_FALSE(rig.controller.IsConnected());
  EXPECT_TRUE(rig.host.Events().empty());

  rig.clock.AdvanceBy(1);
  EXPECT_TRUE(rig.controller.IsConnected());
  EXPECT_EQ(rig.host.Status(), text::kConnected);
  EXPECT_TRUE(rig.host.Green());
  EXPECT_EQ(rig.host.Events(), Events{"connected"});
  EXPECT_EQ(rig.host.RunningTimers(), 0u);
}

TEST(Connect, PortChoiceTwoOpensCom2) {
  LoaderRig rig;
  rig.host.SetPortChoice(2);
  rig.Connect();
  EXPECT_EQ(rig.port.OpenedName(), "COM2");
  EXPECT_TRUE(rig.controller.IsConnected());
}

struct ProbeCase {
  const char* name;
  std::vector<Bytes> replies;  // injected 100 ms apart after the probe
  bool connects;
};

const ProbeCase kProbeCases[] = {
    {"AnyFifthByte", {{0xB0, 0xEF, 0x00, 0x01, 0x5A}}, true},
    {"LengthTwo", {{0xB0, 0xEF, 0x00, 0x02, 0x00, 0x00}}, false},
    {"LengthZero", {{0xB0, 0xEF, 0x00, 0x00}}, false},
    {"AckIsNoConnectReply", {kAck}, false},
    {"WrongThenGood", {{0xB0, 0xEF, 0x00, 0x00}, {0xB0, 0xEF, 0x00, 0x01, 0x00}}, true},
};

class ProbeReplies : public ::testing::TestWithParam<ProbeCase> {};

TEST_P(ProbeReplies, OnlyAConnectReplyConnects) {
  const ProbeCase& c = GetParam();
  LoaderRig rig;
  rig.Fault(FaultKind::NoReply, 0);
  rig.controller.ToggleConnection();
  for (const Bytes& reply : c.replies) {
    rig.clock.AdvanceBy(100);
    rig.port.Inject(reply);
  }
  rig.clock.AdvanceBy(kConnectWindowMs);
  EXPECT_EQ(rig.controller.IsConnected(), c.connects);
  if (c.connects) {
    EXPECT_TRUE(rig.host.Messages().empty());
  } else {
    EXPECT_EQ(rig.host.Messages(), Events{text::kUnableToConnect});
    EXPECT_TRUE(rig.Settled());
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ProbeReplies, ::testing::ValuesIn(kProbeCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Connect, LateReplyWithinTheWindowStillConnectsAtItsEnd) {
  LoaderRig rig;
  rig.Fault(FaultKind::DelayedReply, 0, 999);
  rig.controller.ToggleConnection();
  rig.clock.AdvanceBy(999);
  EXPECT_FALSE(rig.controller.IsConnected());
  rig.clock.AdvanceBy(1);
  EXPECT_TRUE(rig.controller.IsConnected());
}

TEST(Connect, ReplyAfterTheWindowIsTooLate) {
  LoaderRig rig;
  rig.Fault(FaultKind::DelayedReply, 0, 1500);
  rig.controller.ToggleConnection();
  rig.clock.AdvanceBy(5000);
  EXPECT_EQ(rig.host.Messages(), Events{text::kUnableToConnect});
  EXPECT_TRUE(rig.Settled());
}

TEST(Connect, DisconnectClosesTheLine) {
  LoaderRig rig;
  rig.Connect();
  rig.controller.ToggleConnection();
  EXPECT_TRUE(rig.Settled());
  EXPECT_EQ(rig.host.Events(), (Events{"connected", "disconnected"}));
  EXPECT_EQ(rig.controller.State(), Probing);
}

// ---- A programming run ----------------------------------------------------

TEST(Run, TwoHundredBytesShowProgressAt64_128_192) {
  LoaderRig rig;
  rig.Connect();
  rig.host.ClearEvents();
  rig.Run(Pattern(200));
  EXPECT_EQ(rig.host.Events(),
            (Events{"progress open 200", "status PROGRAMMING", "progress 64", "progress 128",
                    "progress 192", "progress close", "status MODULE LOADED"}));
  EXPECT_EQ(rig.controller.State(), Ready);
  EXPECT_TRUE(rig.controller.IsConnected());
  EXPECT_FALSE(rig.controller.IsRunning());
  EXPECT_EQ(rig.host.RunningTimers(), 0u);
  EXPECT_FALSE(rig.image.IsOpen());  // released with its run
}

TEST(Run, ShortImageNeverMovesTheBar) {
  LoaderRig rig;
  rig.Connect();
  rig.host.ClearEvents();
  rig.Run(Pattern(64));
  EXPECT_EQ(rig.host.Events(), (Events{"progress open 64", "status PROGRAMMING", "progress close",
                                       "status MODULE LOADED"}));
}

TEST(Run, ReplyTimersRunWhileTheirRequestIsOutstanding) {
  LoaderRig rig;
  rig.Connect();
  rig.Fault(FaultKind::DelayedReply, 1, 500);
  rig.Fault(FaultKind::DelayedReply, 2, 500);
  rig.Fault(FaultKind::DelayedReply, 4, 500);  // FLASH
  rig.controller.StartRun(rig.dir.File("a.mbf", Pattern(100)));
  EXPECT_TRUE(rig.host.TimerRunning(TIMER_INIT));
  rig.clock.AdvanceBy(500);
  EXPECT_EQ(rig.controller.State(), Sending);
  EXPECT_TRUE(rig.host.TimerRunning(TIMER_SEND));
  EXPECT_FALSE(rig.host.TimerRunning(TIMER_INIT));
  rig.clock.AdvanceBy(500);
  EXPECT_EQ(rig.controller.State(), Flashing);  // the 36-byte SENDLAST was answered at once
  EXPECT_TRUE(rig.host.TimerRunning(TIMER_FLASH));
  EXPECT_FALSE(rig.host.TimerRunning(TIMER_SEND));
  rig.clock.AdvanceBy(500);
  EXPECT_EQ(rig.host.Status(), text::kModuleLoaded);
}

struct TolerableFault {
  const char* name;
  FaultKind kind;
  int step;
  uint32_t param;
};

// Misbehaviour a healthy loader rides through.
const TolerableFault kTolerable[] = {
    {"NoiseBeforeInitReply", FaultKind::Noise, 1, 4},
    {"NoiseBeforeChunkReply", FaultKind::Noise, 3, 2},
    {"SplitChunkReply", FaultKind::SplitReply, 2, 0},
    {"SplitFlashReply", FaultKind::SplitReply, 6, 0},
    {"OversizedFrameBeforeReply", FaultKind::OversizedFrame, 4, 0},
    {"ChunkReplyJustInTime", FaultKind::DelayedReply, 3, 4999},
    {"InitReplyJustInTime", FaultKind::DelayedReply, 1, 999},
};

class Tolerated : public ::testing::TestWithParam<TolerableFault> {};

TEST_P(Tolerated, RunStillLoadsTheModule) {
  const TolerableFault& f = GetParam();
  LoaderRig rig;
  rig.Connect();
  rig.Fault(f.kind, f.step, f.param);
  const Bytes image = Pattern(200);
  rig.Run(image);
  EXPECT_EQ(rig.host.Status(), text::kModuleLoaded);
  EXPECT_TRUE(rig.host.Messages().empty());
  ASSERT_EQ(rig.module.FlashedImages().size(), 1u);
  EXPECT_EQ(rig.module.FlashedImages()[0], image);
}

INSTANTIATE_TEST_SUITE_P(Cases, Tolerated, ::testing::ValuesIn(kTolerable),
                         [](const auto& p) { return std::string(p.param.name); });

// ---- Failures -------------------------------------------------------------

struct FailureCase {
  const char* name;
  FaultKind kind;
  int step;  // 200-byte image: 1 INIT, 2-4 SEND, 5 SENDLAST, 6 FLASH
  const char* message;
  uint64_t after;     // ms from the request to the failure
  uint32_t frozenAt;  // progress position when it failed
};

const FailureCase kFailures[] = {
    {"SilentInit", FaultKind::NoReply, 1, text::kNotResponding, 1000, 0},
    {"SilentSecondSend", FaultKind::NoReply, 3, text::kNotResponding, 5000, 64},
    {"SilentSendLast", FaultKind::NoReply, 5, text::kNotResponding, 5000, 192},
    {"SilentFlash", FaultKind::NoReply, 6, text::kNotResponding, 5000, 192},
    {"HangUpMidImage", FaultKind::HangUp, 4, text::kLineLost, 0, 128},
    {"WrongInitReply", FaultKind::WrongReply, 1, text::kInvalidInit, 0, 0},
    {"WrongSendReply", FaultKind::WrongReply, 2, text::kInvalidSend, 0, 0},
    {"WrongSendLastReply", FaultKind::WrongReply, 5, text::kInvalidSendLast, 0, 192},
    {"WrongFlashReply", FaultKind::WrongReply, 6, text::kInvalidFlash, 0, 192},
};

class Failures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(Failures, EndDisconnectedAndSettledWithOneMessage) {
  const FailureCase& c = GetParam();
  LoaderRig rig;
  rig.Connect();
  rig.Fault(c.kind, c.step);
  const int opens = rig.port.OpenCount();
  rig.host.ClearEvents();
  rig.Run(Pattern(200), 60000);

  EXPECT_EQ(rig.host.Messages(), Events{c.message});
  EXPECT_TRUE(rig.Settled());
  EXPECT_EQ(rig.controller.State(), Probing);
  EXPECT_EQ(rig.port.OpenCount(), opens);                               // no new connection attempt
  EXPECT_EQ(rig.module.FlashedImages().size(), c.step == 6 ? 1u : 0u);  // FLASH was received
  // The frozen bar is shown with the message, then released.
  const Events& e = rig.host.Events();
  ASSERT_GE(e.size(), 3u);
  EXPECT_EQ(e[e.size() - 3], std::string("message ") + c.message);
  EXPECT_EQ(e[e.size() - 2], "disconnected");
  EXPECT_EQ(e[e.size() - 1], "progress close");
  EXPECT_EQ(rig.host.ProgressPosition(), c.frozenAt);
}

INSTANTIATE_TEST_SUITE_P(Cases, Failures, ::testing::ValuesIn(kFailures),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Failures, ChunkTimeOutComesAfterFiveSeconds) {
  LoaderRig rig;
  rig.Connect();
  rig.Fault(FaultKind::NoReply, 3);
  rig.controller.StartRun(rig.dir.File("a.mbf", Pattern(200)));
  rig.clock.AdvanceBy(4999);
  EXPECT_TRUE(rig.host.Messages().empty());
  EXPECT_EQ(rig.controller.State(), Sending);
  rig.clock.AdvanceBy(1);
  EXPECT_EQ(rig.host.Messages(), Events{text::kNotResponding});
}

TEST(Failures, PortThatCannotBeOpened) {
  LoaderRig rig;
  rig.port.SetOpenResult(kErrorFileNotFound);
  rig.controller.ToggleConnection();
  EXPECT_EQ(rig.host.Messages(), Events{"Cannot open open COM1"});
  EXPECT_EQ(rig.controller.LastFailure(), Failure::PortOpen);
  EXPECT_EQ(rig.controller.LastPortResult(), kErrorFileNotFound);
  EXPECT_TRUE(rig.Settled());
  EXPECT_TRUE(rig.Writes().empty());
}

TEST(Failures, LineFormatRefusedClosesThePortSoALaterConnectWorks) {
  LoaderRig rig;
  rig.port.SetLineFormatResult(87);
  rig.controller.ToggleConnection();
  EXPECT_EQ(rig.host.Messages(), Events{text::kCannotSwitch});
  EXPECT_TRUE(rig.Settled());

  rig.port.SetLineFormatResult(kResultOk);
  rig.Connect();
  EXPECT_TRUE(rig.controller.IsConnected());
  EXPECT_EQ(rig.host.Messages().size(), 1u);
}

TEST(Failures, ImageThatCannotBeOpenedChangesNothing) {
  LoaderRig rig;
  rig.Connect();
  const size_t writes = rig.Writes().size();
  const std::string path = rig.dir.At("missing.mbf");
  rig.controller.StartRun(path);
  rig.clock.AdvanceBy(10000);
  EXPECT_EQ(rig.host.Messages(), Events{"Unable to open file " + path});
  EXPECT_EQ(rig.controller.LastFailure(), Failure::ImageFile);
  EXPECT_TRUE(rig.controller.IsConnected());
  EXPECT_EQ(rig.host.Status(), text::kConnected);
  EXPECT_EQ(rig.Writes().size(), writes);
  EXPECT_EQ(rig.host.OpenDisplays(), 0);
}

TEST(Failures, ImageLongerThanThirtyTwoBitsIsRefused) {
  LoaderRig rig;
  rig.Connect();
  const std::string path = rig.dir.File("huge.mbf", {});
  std::error_code error;
  std::filesystem::resize_file(path, 0x100000000ULL, error);  // sparse: no disk used
  ASSERT_FALSE(error) << error.message();
  rig.controller.StartRun(path);
  EXPECT_EQ(rig.host.Messages(), Events{"Unable to open file " + path});
  EXPECT_EQ(rig.Writes().size(), 1u);  // CONNECT only
}

// ---- Sound behaviour where the line or the user does the unexpected ------

TEST(Robustness, BreakWhileIdleDoesNotSpoilTheNextRun) {
  LoaderRig rig;
  rig.Connect();
  rig.port.Inject({0xB0, 0xEF, 0xAA}, kEventRxChar);  // a partial frame of noise
  rig.clock.RunDue();
  rig.port.Inject({}, kEventBreak);
  rig.clock.RunDue();
  EXPECT_EQ(rig.controller.State(), Probing);
  EXPECT_EQ(rig.host.Status(), text::kConnected);

  rig.Run(Pattern(100));
  EXPECT_EQ(rig.host.Status(), text::kModuleLoaded);
  EXPECT_TRUE(rig.host.Messages().empty());
}

TEST(Robustness, PartialNoiseFrameWhileIdleIsDroppedAtRunStart) {
  LoaderRig rig;
  rig.Connect();
  rig.port.Inject({0x00, 0xB0, 0xEF, 0xAA, 0x01}, kEventRxChar);
  rig.clock.RunDue();
  ASSERT_EQ(rig.controller.RxCount(), 4);
  rig.Run(Pattern(10));
  EXPECT_EQ(rig.host.Status(), text::kModuleLoaded);
}

TEST(Robustness, BreakDuringARunEndsItByTimeOut) {
  LoaderRig rig;
  rig.Connect();
  rig.Fault(FaultKind::DelayedReply, 3, 100);
  rig.controller.StartRun(rig.dir.File("a.mbf", Pattern(200)));
  rig.clock.AdvanceBy(50);
  rig.port.Inject({}, kEventError);
  rig.clock.AdvanceBy(10000);
  EXPECT_EQ(rig.host.Messages(), Events{text::kNotResponding});
  EXPECT_TRUE(rig.Settled());
}

// A line that goes away is reported at once, whatever the controller was
// doing, and only while its port is open.
struct LineLostCase {
  const char* name;
  int step;  // 0: connected and idle; else the request the loss follows
  bool running;
};

class LineLost : public ::testing::TestWithParam<LineLostCase> {};

TEST_P(LineLost, EndsAtOnceSettledWithItsOwnMessage) {
  const LineLostCase& c = GetParam();
  LoaderRig rig;
  rig.Connect();
  if (c.running) {
    rig.Fault(FaultKind::NoReply, c.step);
    rig.controller.StartRun(rig.dir.File("a.mbf", Pattern(200)));
    rig.clock.AdvanceBy(100);
  }
  rig.host.ClearEvents();
  rig.port.Inject({}, kEventLineLost);
  rig.clock.AdvanceBy(1);  // the notification is dispatched by the host's loop

  EXPECT_EQ(rig.host.Messages(), Events{text::kLineLost});
  EXPECT_EQ(rig.controller.LastFailure(), Failure::LineLost);
  EXPECT_TRUE(rig.Settled());
  rig.clock.AdvanceBy(20000);
  EXPECT_EQ(rig.host.Messages().size(), 1u) << "no reply timer speaks after the loss";
}

const LineLostCase kLineLostCases[] = {
    {"ConnectedAndIdle", 0, false},
    {"AwaitingInitReply", 1, true},
    {"AwaitingChunkReply", 3, true},
    {"AwaitingFlashReply", 6, true},
};

INSTANTIATE_TEST_SUITE_P(Cases, LineLost, ::testing::ValuesIn(kLineLostCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(LineLost, DuringTheProbeWindowEndsTheConnectAttempt) {
  LoaderRig rig;
  rig.controller.ToggleConnection();
  rig.clock.AdvanceBy(10);
  rig.port.Inject({}, kEventLineLost);
  rig.clock.AdvanceBy(1);
  EXPECT_EQ(rig.host.Messages(), Events{text::kLineLost});
  rig.clock.AdvanceBy(5000);
  EXPECT_EQ(rig.host.Messages().size(), 1u) << "the probe window's timer was stopped";
  EXPECT_TRUE(rig.Settled());
}

TEST(Robustness, DisconnectDuringARunStopsItsReplyTimer) {
  LoaderRig rig;
  rig.Connect();
  rig.Fault(FaultKind::NoReply, 3);
  rig.controller.StartRun(rig.dir.File("a.mbf", Pattern(200)));
  rig.clock.AdvanceBy(100);
  ASSERT_EQ(rig.controller.State(), Sending);
  const int opens = rig.port.OpenCount();

  rig.controller.ToggleConnection();
  rig.clock.AdvanceBy(20000);
  EXPECT_TRUE(rig.host.Messages().empty());
  EXPECT_TRUE(rig.Settled());
  EXPECT_EQ(rig.port.OpenCount(), opens);
}

TEST(Robustness, RunRequestDuringARunIsRefused) {
  LoaderRig rig;
  rig.Connect();
  rig.Fault(FaultKind::DelayedReply, 2, 200);
  const Bytes first = Pattern(200);
  rig.controller.StartRun(rig.dir.File("first.mbf", first));
  rig.clock.AdvanceBy(100);
  rig.controller.StartRun(rig.dir.File("second.mbf", Pattern(80)));
  EXPECT_EQ(rig.host.Messages(), Events{text::kRunInProgress});
  EXPECT_EQ(rig.host.OpenDisplays(), 1);

  rig.clock.AdvanceBy(10000);
  EXPECT_EQ(rig.host.Status(), text::kModuleLoaded);
  EXPECT_TRUE(rig.module.Violations().empty());
  ASSERT_EQ(rig.module.FlashedImages().size(), 1u);
  EXPECT_EQ(rig.module.FlashedImages()[0], first);
}

const Bytes kConnectReply{0xB0, 0xEF, 0x00, 0x01, 0x00};

// Frames that answer nothing outstanding: the module's late reply to an
// earlier probe, an ACK nobody asked for, line garbage that looks like a frame.
const std::pair<const char*, Bytes> kStrayFrames[] = {
    {"ConnectReply", kConnectReply},
    {"Ack", kAck},
    {"AckWithErrorPayload", {0xB0, 0xEF, 0xAA, 0x01, 0x01}},
    {"EmptyFrame", {0xB0, 0xEF, 0x00, 0x00}},
};

class StrayFrames : public ::testing::TestWithParam<std::pair<const char*, Bytes>> {};

TEST_P(StrayFrames, WhileConnectedAndIdleAreDropped) {
  LoaderRig rig;
  rig.Connect();
  rig.Run(Pattern(10));  // an earlier run leaves nothing to read from
  const size_t writes = rig.Writes().size();
  rig.host.ClearEvents();
  rig.port.Inject(GetParam().second);
  rig.clock.AdvanceBy(10000);
  EXPECT_EQ(rig.Writes().size(), writes);
  EXPECT_TRUE(rig.controller.IsConnected());
  EXPECT_EQ(rig.controller.State(), Ready);
  EXPECT_TRUE(rig.host.Events().empty());

  rig.Run(Pattern(100));  // and the line is still good for a run
  EXPECT_EQ(rig.host.Status(), text::kModuleLoaded);
  EXPECT_TRUE(rig.host.Messages().empty());
}

TEST_P(StrayFrames, AfterTheConnectReplyInTheProbeWindowAreDropped) {
  LoaderRig rig;
  rig.controller.ToggleConnection();
  rig.clock.AdvanceBy(200);
  rig.port.Inject(GetParam().second);
  rig.clock.AdvanceBy(kConnectWindowMs);
  EXPECT_TRUE(rig.host.Messages().empty());
  EXPECT_TRUE(rig.controller.IsConnected());
  EXPECT_EQ(rig.port.OpenCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, StrayFrames, ::testing::ValuesIn(kStrayFrames),
                         [](const auto& p) { return std::string(p.param.first); });

TEST(Robustness, RetryRightAfterALateConnectReplyConnects) {
  LoaderRig rig;
  rig.Fault(FaultKind::NoReply, 0);
  rig.Connect();
  ASSERT_EQ(rig.host.Messages(), Events{text::kUnableToConnect});
  rig.controller.ToggleConnection();
  rig.port.Inject(kConnectReply);         // the module's late answer to the first probe
  rig.clock.AdvanceBy(kConnectWindowMs);  // then its answer to this one
  EXPECT_EQ(rig.host.Messages(), Events{text::kUnableToConnect});
  EXPECT_TRUE(rig.controller.IsConnected());
  rig.Run(Pattern(100));
  EXPECT_EQ(rig.host.Status(), text::kModuleLoaded);
}

TEST(Robustness, WrongReplyToInitStillEndsTheConnection) {
  LoaderRig rig;
  rig.Connect();
  rig.Fault(FaultKind::NoReply, 1);
  rig.controller.StartRun(rig.dir.File("a.mbf", Pattern(100)));
  rig.port.Inject(kConnectReply);
  rig.clock.RunDue();
  EXPECT_EQ(rig.host.Messages(), Events{text::kInvalidInit});
  EXPECT_TRUE(rig.Settled());
}

TEST(Robustness, SecondConnectDuringTheProbeGivesOneMessage) {
  LoaderRig rig;
  rig.controller.ToggleConnection();
  rig.clock.AdvanceBy(300);
  rig.controller.ToggleConnection();
  rig.clock.AdvanceBy(5000);
  EXPECT_EQ(rig.host.Messages(), Events{"Cannot open open COM1"});
  EXPECT_TRUE(rig.Settled());
}

TEST(Robustness, FramesArrivingWhileTheMessageIsOpenChangeNothing) {
  LoaderRig rig;
  rig.Connect();
  rig.Fault(FaultKind::WrongReply, 2);
  rig.host.OnMessage([&] {
    rig.port.Inject(kAck);  // a late reply while the box is open
    rig.clock.AdvanceBy(10000);
  });
  rig.Run(Pattern(200));
  EXPECT_EQ(rig.host.Messages(), Events{text::kInvalidSend});
  EXPECT_TRUE(rig.Settled());
  EXPECT_EQ(rig.port.OpenCount(), 1);
}

TEST(Robustness, RunWhileNotConnectedIsIgnored) {
  LoaderRig rig;
  rig.controller.StartRun(rig.dir.File("a.mbf", Pattern(10)));
  rig.clock.AdvanceBy(10000);
  EXPECT_TRUE(rig.Writes().empty());
  EXPECT_TRUE(rig.host.Events().empty());
}

TEST(Robustness, ManyRunsOnOneConnection) {
  LoaderRig rig;
  rig.Connect();
  for (size_t length : {0u, 1u, 300u, 64u}) {
    rig.Run(Pattern(length));
    EXPECT_EQ(rig.host.Status(), text::kModuleLoaded);
  }
  EXPECT_EQ(rig.module.FlashedImages().size(), 4u);
  EXPECT_TRUE(rig.module.Violations().empty());
}

}  // namespace
}  // namespace vexel::testing

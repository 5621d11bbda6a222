// The fixture of modules put on one after another: when a module goes, when
// the next one comes, whose faults apply, and what is heard in between.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/module_fixture.h"
#include "test_frames.h"

namespace vexel::sim {
namespace {

using namespace test;

// Logs the fixture's changes with the time the test passed in last.
class ChangeLog final : public FixtureObserver {
 public:
  int64_t now = 0;
  std::vector<std::string> lines;

  void OnModuleAttached(size_t module) override {
    lines.push_back(std::to_string(now) + ": attached " + std::to_string(module));
  }
  void OnModuleRemoved(size_t module, const char* reason) override {
    lines.push_back(std::to_string(now) + ": removed " + std::to_string(module) + " (" + reason +
                    ")");
  }
};

Bytes Joined(const std::vector<Delivery>& deliveries) {
  Bytes out;
  for (const Delivery& d : deliveries) out.insert(out.end(), d.bytes.begin(), d.bytes.end());
  return out;
}

struct Exchange {
  int64_t t;
  Bytes request;
  Bytes reply;  // everything the fixture answers; empty: nothing
};

ModuleFault For(FaultKind kind, int step, size_t module, uint32_t param = 0) {
  return {{kind, step, param, false}, module};
}

// A whole run that flashes a 3-byte image, as one write, at time @p t.
Exchange Flashes(int64_t t) {
  return {t, Cat({kInit, Chunk(Pattern(3)), kFlash}), Cat({kAck, kAck, kAck})};
}

struct FixtureCase {
  const char* name;
  FixtureConfig config;
  std::vector<Exchange> script;
  std::vector<std::string> log;  // after "0: attached 1"
  std::vector<size_t> flashedBy;
};

// g++ 12 at -O3 takes the table's vectors for uninitialised when it tears
// the table down (a known false positive of its inliner), so only here the
// warning is off.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuse-after-free"
TEST(ModuleFixtureTest, TakesModulesOffAndPutsTheNextOnAfterTheGap) {
  const Bytes noise{0x00, 0xFF};
  const FixtureCase kCases[] = {
      {"removed after its image is flashed; the next one comes exactly a gap later",
       {2, 1000, {}},
       {{0, kConnect, kConnectReply},
        Flashes(10),
        {500, kConnect, {}},
        {1009, kConnect, {}},
        {1010, kConnect, kConnectReply},
        Flashes(1020)},
       {"10: removed 1 (flashed)", "1010: attached 2", "1020: removed 2 (flashed)"},
       {1, 2}},
      {"removed by a CONNECT after an answered one, which is not answered",
       {2, 100, {}},
       {{0, kConnect, kConnectReply},
        {1000, kConnect, {}},
        {1099, kConnect, {}},
        {1100, kConnect, kConnectReply}},
       {"1000: removed 1 (reprobed)", "1100: attached 2"},
       {}},
      {"a CONNECT not answered does not count",
       {2, 0, {For(FaultKind::NoReply, 0, 1)}},
       {{0, kConnect, {}}, {1000, kConnect, kConnectReply}, {2000, kConnect, {}}},
       {"2000: removed 1 (reprobed)"},
       {}},
      {"a wrong connect reply counts as answered",
       {2, 0, {For(FaultKind::WrongReply, 0, 0)}},
       {{0, kConnect, kWrongConnectReply},
        {1000, kConnect, {}},
        {1000, kConnect, kWrongConnectReply}},
       {"1000: removed 1 (reprobed)", "1000: attached 2"},
       {}},
      {"the rest of the read that flashed the image finds the fixture empty",
       {2, 0, {}},
       {{0, Cat({kConnect, kInit, Chunk(Pattern(3)), kFlash, kConnect}),
         Cat({kConnectReply, kAck, kAck, kAck})},
        {0, kConnect, kConnectReply}},
       {"0: removed 1 (flashed)", "0: attached 2"},
       {1}},
      {"a fault for one module only, faults for every module on each, once per module",
       {3, 0, {For(FaultKind::WrongReply, 1, 2), For(FaultKind::Noise, 0, 0, 2)}},
       {{0, kConnect, Cat({noise, kConnectReply})},
        Flashes(0),
        {1, Cat({kConnect, kInit, kInit}), Cat({noise, kConnectReply, kWrongAck, kAck})},
        {2, kConnect, {}},
        {3, Cat({kConnect, kInit}), Cat({noise, kConnectReply, kAck})}},
       {"0: removed 1 (flashed)", "1: attached 2", "2: removed 2 (reprobed)", "3: attached 3"},
       {1}},
      {"after module N the fixture stays empty",
       {1, 0, {}},
       {{0, kConnect, kConnectReply}, Flashes(0), {1, kConnect, {}}, {100000, kConnect, {}}},
       {"0: removed 1 (flashed)"},
       {1}},
      {"bytes in the gap are no violations and reach no module",
       {2, 50, {}},
       {{0, kConnect, kConnectReply},
        Flashes(0),
        {10, Cat({noise, Chunk(Pattern(5)), kFlash}), {}},
        {50, Cat({kConnect, kInit, Chunk(Pattern(2)), kFlash}),
         Cat({kConnectReply, kAck, kAck, kAck})}},
       {"0: removed 1 (flashed)", "50: attached 2", "50: removed 2 (flashed)"},
       {1, 2}},
      {"a flashed module dwells, answering every CONNECT, and the gap runs from its removal",
       {2, 100, {}, 300},
       {{0, kConnect, kConnectReply},
        Flashes(10),
        {200, kConnect, kConnectReply},
        {309, kConnect, kConnectReply},
        {310, kConnect, {}},
        {409, kConnect, {}},
        {410, kConnect, kConnectReply}},
       {"310: removed 1 (flashed)", "410: attached 2"},
       {1}},
      {"the classic single module answers every CONNECT and is never taken off",
       {0, 0, {}},
       {{0, kConnect, kConnectReply},
        Flashes(1),
        {2, kConnect, kConnectReply},
        {3, kConnect, kConnectReply},
        Flashes(4)},
       {},
       {1, 1}},
  };
  for (const FixtureCase& c : kCases) {
    SCOPED_TRACE(c.name);
    ChangeLog log;
    ModuleFixture fixture(c.config, nullptr, &log);
    for (const Exchange& e : c.script) {
      log.now = e.t;
      EXPECT_EQ(Joined(fixture.Consume(e.request.data(), e.request.size(), e.t)), e.reply)
          << "at " << e.t;
    }
    std::vector<std::string> expected;
    if (c.config.modules > 0) expected.push_back("0: attached 1");
    expected.insert(expected.end(), c.log.begin(), c.log.end());
    EXPECT_EQ(log.lines, expected);
    EXPECT_EQ(fixture.FlashedBy(), c.flashedBy);
    EXPECT_EQ(fixture.FlashedImages().size(), c.flashedBy.size());
    EXPECT_TRUE(fixture.Violations().empty());
  }
}
#pragma GCC diagnostic pop

// Without bytes from the loader, the caller's timer brings the next module.
TEST(ModuleFixtureTest, TellsWhenTheNextModuleIsDueAndAttachesItThen) {
  ChangeLog log;
  ModuleFixture fixture({3, 250, {}}, nullptr, &log);
  EXPECT_EQ(fixture.Present(), 1u);
  EXPECT_EQ(fixture.NextChangeMs(), std::nullopt);
  const Bytes run = Cat({kConnect, RunOf(Pattern(70))});
  fixture.Consume(run.data(), run.size(), 1000);
  EXPECT_EQ(fixture.Present(), 0u);
  EXPECT_EQ(fixture.NextChangeMs(), 1250);
  fixture.Advance(1249);
  EXPECT_EQ(fixture.Present(), 0u);
  log.now = 1250;
  fixture.Advance(1250);
  EXPECT_EQ(fixture.Present(), 2u);
  EXPECT_EQ(fixture.Attached(), 2u);
  EXPECT_EQ(fixture.NextChangeMs(), std::nullopt);
  EXPECT_EQ(log.lines, (std::vector<std::string>{"0: attached 1", "0: removed 1 (flashed)",
                                                 "1250: attached 2"}));
  ASSERT_EQ(fixture.FlashedImages().size(), 1u);
  EXPECT_EQ(fixture.FlashedImages()[0], Pattern(70));
}

// A hang-up ends the program, so no module follows.
TEST(ModuleFixtureTest, AHangUpTakesTheModuleOffForGood) {
  ChangeLog log;
  ModuleFixture fixture({3, 0, {For(FaultKind::HangUp, 1, 0)}}, nullptr, &log);
  const Bytes request = Cat({kConnect, kInit, kInit});
  const std::vector<Delivery> out = fixture.Consume(request.data(), request.size(), 5);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].bytes, kConnectReply);
  EXPECT_TRUE(out[1].hangUp);
  EXPECT_EQ(fixture.Present(), 0u);
  EXPECT_EQ(fixture.Step(), 1);
  EXPECT_EQ(fixture.NextChangeMs(), std::nullopt);
  EXPECT_EQ(log.lines, (std::vector<std::string>{"0: attached 1", "0: removed 1 (hangup)"}));
}

TEST(ModuleFixtureTest, KeepsTheViolationsOfEveryModule) {
  ModuleFixture fixture({2, 0, {}});
  const Bytes first = Cat({kConnect, Chunk(Pattern(2)), RunOf(Pattern(1))});
  fixture.Consume(first.data(), first.size(), 0);
  const Bytes second = Cat({kFlash, kConnect});
  EXPECT_EQ(Joined(fixture.Consume(second.data(), second.size(), 0)), Cat({kAck, kConnectReply}));
  ASSERT_EQ(fixture.Violations().size(), 2u);
  EXPECT_EQ(fixture.Violations()[0].kind, ViolationKind::SendBeforeInit);
  EXPECT_EQ(fixture.Violations()[1].kind, ViolationKind::FlashWithoutImage);
  EXPECT_EQ(fixture.Present(), 2u);  // a FLASH that flashed nothing does not take the module off
}

TEST(ModuleFaultTest, ReadsTheModuleOfAFault) {
  const struct {
    const char* spec;
    FaultKind kind;
    int step;
    bool everyRun;
    size_t module;
    const char* formatted;
  } kCases[] = {
      {"noreply@0", FaultKind::NoReply, 0, false, 0, "noreply@0"},
      {"noreply@0#3", FaultKind::NoReply, 0, false, 3, "noreply@0#3"},
      {"delay:1500@4!#12", FaultKind::DelayedReply, 4, true, 12, "delay:1500@4!#12"},
      {"silence@2*#1", FaultKind::NoReply, 2, true, 1, "noreply@2!#1"},
      {"hangup@5#1000000", FaultKind::HangUp, 5, false, 1000000, "hangup@5#1000000"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.spec);
    ModuleFault fault;
    std::string error;
    ASSERT_TRUE(ParseModuleFault(c.spec, fault, error)) << error;
    EXPECT_EQ(fault.fault.kind, c.kind);
    EXPECT_EQ(fault.fault.step, c.step);
    EXPECT_EQ(fault.fault.everyRun, c.everyRun);
    EXPECT_EQ(fault.module, c.module);
    EXPECT_EQ(FormatModuleFault(fault), c.formatted);
  }
}

TEST(ModuleFaultTest, RefusesBadModulesWithTheSpecAsWritten) {
  const struct {
    const char* spec;
    const char* error;
  } kCases[] = {
      {"noreply@0#0", "bad fault 'noreply@0#0': #M must be a module number from 1 to 1000000"},
      {"noreply@0#", "bad fault 'noreply@0#': #M must be a module number from 1 to 1000000"},
      {"noreply@0#x", "bad fault 'noreply@0#x': #M must be a module number from 1 to 1000000"},
      {"noreply@0#1000001",
       "bad fault 'noreply@0#1000001': #M must be a module number from 1 to 1000000"},
      {"noreply@0#-1", "bad fault 'noreply@0#-1': #M must be a module number from 1 to 1000000"},
      {"noreply@0#2!", "bad fault 'noreply@0#2!': #M must be a module number from 1 to 1000000"},
      {"bogus@1#2", "bad fault 'bogus@1#2': unknown kind"},
      {"delay@1#2", "bad fault 'delay@1#2': this kind needs ':N'"},
      {"noreply#2", "bad fault 'noreply#2': expected KIND[:N]@STEP[!]"},
  };
  for (const auto& c : kCases) {
    ModuleFault fault;
    std::string error;
    EXPECT_FALSE(ParseModuleFault(c.spec, fault, error)) << c.spec;
    EXPECT_EQ(error, c.error);
  }
}

}  // namespace
}  // namespace vexel::sim

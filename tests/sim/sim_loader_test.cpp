// The real loader stack (CSerialCWnd and ProgrammingController, real timers)
// against vexel-module-sim on its pty: a clean run and each fault, checked
// from both ends: what the user sees, and the simulator's own report.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <string>
#include <vector>

#include "protocol/image_file.h"
#include "protocol/programming_controller.h"
#include "protocol/sha256.h"
#include "serial/serial_wnd.h"
#include "support/real_time_host.h"
#include "support/sim_program.h"
#include "test_frames.h"

namespace vexel::sim::test {
namespace {

using nlohmann::json;
using std::chrono::milliseconds;
using vexel::test::RealTimeHost;
using vexel::test::SimProgram;

constexpr milliseconds kDeadline{
    20000};  // a safety net only; nothing waits this long when all is well

struct LoaderCase {
  const char* name;
  std::vector<std::string> faults;
  bool connects;                      // the probe ends with "CONNECTED"
  std::vector<std::string> messages;  // message boxes, in order
  std::string status;                 // the status line at the end
  size_t flashed;                     // images the simulator flashed
  int simExit;
};

void PrintTo(const LoaderCase& c, std::ostream* os) { *os << c.name; }

class SimLoaderTest : public ::testing::TestWithParam<LoaderCase> {};

const LoaderCase kCases[] = {
    {"CleanRun", {}, true, {}, "MODULE LOADED", 1, 0},
    {"NoConnectReply",
     {"noreply@0"},
     false,
     {"Unable to connect to module"},
     "NOT CONNECTED",
     0,
     0},
    {"LateConnectReply",
     {"delay:1500@0"},
     false,
     {"Unable to connect to module"},
     "NOT CONNECTED",
     0,
     0},
    {"WrongConnectReply",
     {"wrong@0"},
     false,
     {"Unable to connect to module"},
     "NOT CONNECTED",
     0,
     0},
    {"WrongInitReply",
     {"wrong@1"},
     true,
     {"Invalid response from module for INIT"},
     "NOT CONNECTED",
     0,
     0},
    {"WrongSendLastReply",
     {"wrong@5"},
     true,
     {"Invalid response from module for SENDLAST"},
     "NOT CONNECTED",
     0,
     0},
    {"WrongFlashReply",
     {"wrong@6"},
     true,
     {"Invalid response from module for FLASH"},
     "NOT CONNECTED",
     1,
     0},
    {"NoisySplitOversizedLateReplies",
     {"noise:4@1", "split@2", "oversize@3", "noise:2@4", "split@4", "delay:800@5"},
     true,
     {},
     "MODULE LOADED",
     1,
     0},
    {"SilentModule", {"silence@3"}, true, {"Module not responding"}, "NOT CONNECTED", 0, 0},
    {"HangUp",
     {"hangup@3"},
     true,
     {"Connection lost: the serial port went away (adapter unplugged or driver stopped)"},
     "NOT CONNECTED",
     0,
     3},
};

// The 200-byte image: SEND at steps 2-4, SENDLAST at 5, FLASH at 6.
TEST_P(SimLoaderTest, LoaderAndSimulatorAgreeOnTheOutcome) {
  const LoaderCase& c = GetParam();
  std::vector<std::string> args{"--json"};
  for (const std::string& f : c.faults) args.insert(args.end(), {"--fault", f});
  SimProgram sim;
  ASSERT_TRUE(sim.Start(args));
  std::string path;
  ASSERT_TRUE(sim.ReadLine(path)) << sim.Stderr();
  ::setenv("VEXEL_COM1", path.c_str(), 1);

  const Bytes image = Pattern(200);
  const std::string imagePath = "/tmp/vexel-sim-loader-" + std::to_string(::getpid()) + ".mbf";
  std::ofstream(imagePath, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), 200);

  RealTimeHost host;  // outlives the line, whose watcher posts to it
  CSerialCWnd serial;
  SnapshotImageFile file;
  ProgrammingController controller(serial, file, host);
  host.Attach(controller);

  controller.ToggleConnection();
  ASSERT_TRUE(host.RunUntil([&] { return controller.IsConnected() || !host.Messages().empty(); },
                            kDeadline));
  EXPECT_EQ(controller.IsConnected(), c.connects);
  if (controller.IsConnected()) {
    controller.StartRun(imagePath);
    EXPECT_TRUE(host.RunUntil([&] { return !controller.IsRunning(); }, kDeadline));
  }
  EXPECT_EQ(host.Messages(), c.messages);
  EXPECT_EQ(host.Status(), c.status);
  if (c.status == "MODULE LOADED") {
    const std::vector<std::string> log{
        "CONNECTED",    "progress open 200", "status PROGRAMMING", "progress 64",
        "progress 128", "progress 192",      "progress close",     "status MODULE LOADED"};
    EXPECT_EQ(host.Log(), log);
    controller.ToggleConnection();
    EXPECT_EQ(host.Status(), "NOT CONNECTED");
  }

  EXPECT_EQ(c.simExit == 3 ? sim.Finish() : sim.Stop(SIGTERM), c.simExit) << sim.Stderr();
  const std::vector<json> events = sim.Events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back()["violations"], 0);
  std::vector<json> images;
  for (const json& e : events) {
    if (e["event"] == "image") images.push_back(e);
    if (e["event"] == "violation") ADD_FAILURE() << e.dump();
  }
  ASSERT_EQ(images.size(), c.flashed);
  if (c.flashed == 1) {
    EXPECT_EQ(images[0]["sha256"], Sha256Hex(image.data(), image.size()));
  }
  ::unlink(imagePath.c_str());
}

// The user connects again after a connect reply came too late: the stale
// reply must not spoil the new probe.
TEST(SimLoaderTest, ConnectsAgainAfterALateConnectReply) {
  SimProgram sim;
  ASSERT_TRUE(sim.Start({"--json", "--fault", "delay:1200@0"}));
  std::string path;
  ASSERT_TRUE(sim.ReadLine(path)) << sim.Stderr();
  ::setenv("VEXEL_COM1", path.c_str(), 1);
  RealTimeHost host;
  CSerialCWnd serial;
  SnapshotImageFile file;
  ProgrammingController controller(serial, file, host);
  host.Attach(controller);

  controller.ToggleConnection();
  ASSERT_TRUE(host.RunUntil([&] { return !host.Messages().empty(); }, kDeadline));
  json reply;
  ASSERT_TRUE(sim.WaitEvent("reply", reply));
  EXPECT_EQ(reply["dropped"], true);  // the loader had closed the line
  controller.ToggleConnection();
  ASSERT_TRUE(host.RunUntil([&] { return controller.IsConnected() || host.Messages().size() > 1; },
                            kDeadline));
  EXPECT_EQ(host.Log(), (std::vector<std::string>{"message Unable to connect to module",
                                                  "NOT CONNECTED", "CONNECTED"}));
  controller.ToggleConnection();
  EXPECT_EQ(sim.Stop(SIGTERM), 0);
}

// A station's day on the fixture: three modules loaded one after another by
// the real loader stack, with a probe in the gap that finds nobody there.
TEST(SimLoaderTest, LoadsModulesPutOnOneAfterAnother) {
  SimProgram sim;
  ASSERT_TRUE(sim.Start({"--json", "--modules", "3", "--gap", "200", "--count", "3"}));
  std::string path;
  ASSERT_TRUE(sim.ReadLine(path)) << sim.Stderr();
  ::setenv("VEXEL_COM1", path.c_str(), 1);
  const Bytes image = Pattern(130);
  const std::string imagePath = "/tmp/vexel-sim-station-" + std::to_string(::getpid()) + ".mbf";
  std::ofstream(imagePath, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), 130);

  RealTimeHost host;
  CSerialCWnd serial;
  SnapshotImageFile file;
  ProgrammingController controller(serial, file, host);
  host.Attach(controller);
  const auto connect = [&] {
    const size_t messages = host.Messages().size();
    controller.ToggleConnection();
    return host.RunUntil(
               [&] { return controller.IsConnected() || host.Messages().size() > messages; },
               kDeadline) &&
           controller.IsConnected();
  };
  const auto load = [&] {
    controller.StartRun(imagePath);
    EXPECT_TRUE(host.RunUntil([&] { return !controller.IsRunning(); }, kDeadline));
    EXPECT_EQ(host.Status(), "MODULE LOADED");
    controller.ToggleConnection();
  };

  ASSERT_TRUE(connect());
  load();
  EXPECT_FALSE(connect()) << "the probe right after the removal came in the gap";
  EXPECT_EQ(host.Messages(), std::vector<std::string>{"Unable to connect to module"});
  ASSERT_TRUE(connect());  // module 2 came during that probe window
  load();
  json event;
  do {
    ASSERT_TRUE(sim.WaitEvent("module", event));
  } while (
      event !=
      json({{"event", "module"}, {"t_ms", event["t_ms"]}, {"index", 3}, {"state", "attached"}}));
  ASSERT_TRUE(connect());
  load();
  EXPECT_EQ(sim.Finish(), 0) << sim.Stderr();

  std::vector<std::string> changes;
  std::vector<size_t> flashedBy;
  for (const json& e : sim.Events()) {
    if (e["event"] == "module")
      changes.push_back(e["state"].get<std::string>() + " " + e["index"].dump());
    if (e["event"] != "image") continue;
    flashedBy.push_back(e["module"].get<size_t>());
    EXPECT_EQ(e["sha256"], Sha256Hex(image.data(), image.size()));
  }
  EXPECT_EQ(changes, (std::vector<std::string>{"attached 1", "removed 1", "attached 2", "removed 2",
                                               "attached 3", "removed 3"}));
  EXPECT_EQ(flashedBy, (std::vector<size_t>{1, 2, 3}));
  EXPECT_EQ(sim.Events().back()["reason"], "count");
  EXPECT_EQ(sim.Events().back()["violations"], 0);
  ::unlink(imagePath.c_str());
}

INSTANTIATE_TEST_SUITE_P(Faults, SimLoaderTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<LoaderCase>& param) {
                           return param.param.name;
                         });

}  // namespace
}  // namespace vexel::sim::test

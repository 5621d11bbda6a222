// duvozeviv-cli --station against simulated fixtures on pseudo-terminals:
// modules put on and taken off one after another, real processes, the
// audit log read back.
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>

#include "cli/exit_codes.h"
#include "e2e_support.h"
#include "protocol/programming_controller.h"
#include "runner/port_runner.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace vexel::cli {
namespace {

using test::ChildProcess;
using test::Cli;
using test::Lines;
using test::SimModule;
using vexel::test::TempDir;
using namespace std::chrono_literals;

std::vector<nlohmann::json> JsonLines(const std::string& text) {
  std::vector<nlohmann::json> lines;
  for (const auto& line : Lines(text)) lines.push_back(nlohmann::json::parse(line));
  return lines;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class StationEndToEnd : public ::testing::Test {
 protected:
  std::string WriteImage(size_t length) {
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>((i * 13 + 5) & 0xFF);
    m_image = bytes;
    return m_dir.Write("image.mbf", bytes).string();
  }

  // A fixture of @p modules modules that keeps every flashed image in a
  // folder of its own.
  std::unique_ptr<SimModule> Fixture(const std::string& name, size_t modules,
                                     std::vector<std::string> faults = {}) {
    const auto out = m_dir.Path() / name;
    std::vector<std::string> args = {"--modules", std::to_string(modules), "--gap", "100",
                                     "--out",     out.string() + "/"};
    for (const auto& fault : faults) {
      args.push_back("--fault");
      args.push_back(fault);
    }
    m_outs.push_back(out);
    return std::make_unique<SimModule>(args);
  }

  std::vector<nlohmann::json> Log() { return JsonLines(ReadFile(m_dir.Path() / "audit.jsonl")); }
  std::string LogPath() const { return (m_dir.Path() / "audit.jsonl").string(); }

  // The module numbers whose images @p sim flashed, in order; each image
  // file compared with the image byte for byte.
  std::vector<size_t> FlashedBy(SimModule& sim) {
    std::vector<size_t> modules;
    for (const auto& event : sim.Events()) {
      if (event["event"] != "image") continue;
      modules.push_back(event["module"]);
      EXPECT_EQ(ReadFile(event["file"].get<std::string>()), m_image) << event.dump();
    }
    return modules;
  }

  // Between two images of a fixture a module was taken off and another put
  // on: nothing was programmed twice without a gap.
  static void ExpectAGapBeforeEveryImageButTheFirst(SimModule& sim) {
    size_t removals = 0;
    size_t images = 0;
    for (const auto& event : sim.Events()) {
      if (event["event"] == "module" && event["state"] == "removed") ++removals;
      if (event["event"] != "image") continue;
      EXPECT_GE(removals, images) << "image " << images + 1 << " with no module taken off before";
      ++images;
    }
  }

  // "PORT#MODULE: outcome (class)" of every module record in the log.
  std::map<std::string, std::string> Outcomes() {
    std::map<std::string, std::string> outcomes;
    for (const auto& record : Log()) {
      if (record["record"] != "module") continue;
      const std::string key = record["port"].get<std::string>() + "#" +
                              std::to_string(record["module"].get<size_t>());
      EXPECT_EQ(outcomes.count(key), 0u) << key << " recorded twice";
      outcomes[key] = record["outcome"].get<std::string>() + " (" +
                      record["exit_class"].get<std::string>() + ")";
    }
    return outcomes;
  }

  TempDir m_dir;
  std::string m_image;
  std::vector<std::filesystem::path> m_outs;
};

TEST_F(StationEndToEnd, TwentyModulesOnOnePortAreEachLoadedOnce) {
  auto sim = Fixture("a", 20);
  ChildProcess cli(Cli({"--station", "--count", "20", "--json", "--log", LogPath(), "-p",
                        sim->Path(), WriteImage(300)}));
  ASSERT_EQ(cli.WaitExit(180s), 0) << cli.Err();
  EXPECT_EQ(cli.Err(), "");
  std::vector<size_t> expected(20);
  for (size_t i = 0; i < expected.size(); ++i) expected[i] = i + 1;
  EXPECT_EQ(FlashedBy(*sim), expected);
  ExpectAGapBeforeEveryImageButTheFirst(*sim);

  const auto outcomes = Outcomes();
  ASSERT_EQ(outcomes.size(), 20u);
  for (const auto& [module, outcome] : outcomes)
    EXPECT_EQ(outcome, "MODULE LOADED (loaded)") << module;
  const auto log = Log();
  EXPECT_EQ(log.front()["record"], "session_start");
  EXPECT_EQ(log.back()["record"], "session_end");
  EXPECT_EQ(log.back()["reason"], "count");
  EXPECT_EQ(log.back()["loaded"], 20);

  // The loader's own events tell the same story: found, loaded, removed.
  size_t found = 0;
  size_t loaded = 0;
  for (const auto& event : JsonLines(cli.Out())) {
    if (event["event"] != "module") continue;
    if (event["state"] == "found") {
      EXPECT_EQ(event["module"], ++found);
    } else if (event["state"] == "loaded") {
      EXPECT_EQ(event["module"], ++loaded);
    }
  }
  EXPECT_EQ(found, 20u);
  EXPECT_EQ(loaded, 20u);
  const auto last = JsonLines(cli.Out()).back();
  EXPECT_EQ(last,
            (nlohmann::json{{"event", "exit"}, {"exit_code", 0}, {"elapsed", last["elapsed"]}}));
}

TEST_F(StationEndToEnd, FourPortsOfTenModulesWithFaultsOnSome) {
  auto a = Fixture("a", 10);
  auto b = Fixture("b", 10, {"wrong@3#4"});  // module 4 garbles its second chunk's reply
  // Module 2's first probe goes unanswered (not a failure); module 7 never
  // acknowledges its third chunk.
  auto c = Fixture("c", 10, {"noreply@0#2", "noreply@4#7"});
  auto d = Fixture("d", 10, {"delay:300@2#5"});  // slow, but in time
  ChildProcess cli(Cli({"--station", "--count", "10", "--log", LogPath(), "-p", a->Path(), "-p",
                        b->Path(), "-p", c->Path(), "-p", d->Path(), WriteImage(200)}));
  EXPECT_EQ(cli.WaitExit(180s), kExitInvalidResponse) << cli.Err();
  EXPECT_EQ(cli.Err(), b->Path() + ": module 4: Invalid response from module for SEND\n" +
                           c->Path() + ": module 7: Module not responding\n");

  const std::vector<size_t> all = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  EXPECT_EQ(FlashedBy(*a), all);
  EXPECT_EQ(FlashedBy(*b), (std::vector<size_t>{1, 2, 3, 5, 6, 7, 8, 9, 10}));
  EXPECT_EQ(FlashedBy(*c), (std::vector<size_t>{1, 2, 3, 4, 5, 6, 8, 9, 10}));
  EXPECT_EQ(FlashedBy(*d), all);
  for (auto* sim : {a.get(), b.get(), c.get(), d.get()})
    ExpectAGapBeforeEveryImageButTheFirst(*sim);

  const auto outcomes = Outcomes();
  EXPECT_EQ(outcomes.size(), 40u);
  size_t loaded = 0;
  for (const auto& [module, outcome] : outcomes) loaded += outcome == "MODULE LOADED (loaded)";
  EXPECT_EQ(loaded, 38u);
  EXPECT_EQ(outcomes.at(b->Path() + "#4"),
            "Invalid response from module for SEND (invalid-response)");
  EXPECT_EQ(outcomes.at(c->Path() + "#7"), "Module not responding (not-responding)");
  EXPECT_EQ(Log().back()["exit_code"], kExitInvalidResponse);

  const auto lines = Lines(cli.Out());
  ASSERT_GE(lines.size(), 7u);
  EXPECT_EQ(lines.back().rfind("38 of 40 modules loaded in ", 0), 0u) << lines.back();
  EXPECT_EQ(lines.back().substr(lines.back().size() - 15), "; exit status 7");
}

TEST_F(StationEndToEnd, CtrlCMidModuleClosesThePortAndCompletesTheLog) {
  // Paced as a real line: 20 KB take about four seconds.
  SimModule sim({"--modules", "3", "--gap", "100", "--line-rate", "57600"});
  ChildProcess cli(
      Cli({"--station", "--json", "--log", LogPath(), "-p", sim.Path(), WriteImage(20000)}));
  ASSERT_TRUE(cli.WaitForOut(
      [](const std::string& out) { return out.find("\"position\":1024,") != std::string::npos; },
      60s));
  cli.Signal(SIGINT);
  EXPECT_EQ(cli.WaitExit(), kExitInterrupted) << cli.Err();
  EXPECT_EQ(cli.Err(), sim.Path() + ": module 1: interrupted\n");
  EXPECT_TRUE(sim.Process().WaitForOut(
      [](const std::string& out) { return out.find("\"state\":\"closed\"") != std::string::npos; },
      20s));

  const std::string text = ReadFile(LogPath());
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  const auto log = Log();
  ASSERT_EQ(log.size(), 3u) << text;
  EXPECT_EQ(log[0]["record"], "session_start");
  EXPECT_EQ(log[1]["record"], "module");
  EXPECT_EQ(log[1]["outcome"], "interrupted");
  EXPECT_EQ(log[1]["exit_class"], "interrupted");
  EXPECT_GE(log[1]["bytes"].get<int>(), 1024);
  EXPECT_EQ(log[2]["record"], "session_end");
  EXPECT_EQ(log[2]["reason"], "interrupted");
  EXPECT_EQ(log[2]["exit_code"], kExitInterrupted);
}

// The fixture's adapter is pulled mid-module (the simulator and its link
// go away) and plugged in again (a new one under the same name): the module
// fails as its line was lost, and the station goes on on the same name.
TEST_F(StationEndToEnd, AStationSurvivesItsAdapterBeingReplugged) {
  const std::string link = (m_dir.Path() / "fixture").string();
  auto first = std::make_unique<SimModule>(
      std::vector<std::string>{"--link", link, "--modules", "1", "--line-rate", "57600"});
  ASSERT_FALSE(first->Path().empty());
  ChildProcess cli(Cli(
      {"--station", "--count", "2", "--json", "--log", LogPath(), "-p", link, WriteImage(20000)}));
  ASSERT_TRUE(cli.WaitForOut(
      [](const std::string& out) { return out.find("\"position\":1024,") != std::string::npos; },
      60s));
  first.reset();  // SIGTERM: the pty hangs up and the link is removed
  ASSERT_TRUE(cli.WaitForOut(
      [](const std::string& out) { return out.find("\"port_lost\"") != std::string::npos; }, 60s));
  // Its module 1 is the one that failed, still on the fixture: the station
  // waits for it to go, then programs module 2.
  SimModule second({"--link", link, "--modules", "2", "--gap", "300", "--count", "1", "--out",
                    (m_dir.Path() / "second").string() + "/"});
  ASSERT_FALSE(second.Path().empty());
  EXPECT_EQ(cli.WaitExit(120s), kExitLineLost) << cli.Err();
  EXPECT_EQ(FlashedBy(second), (std::vector<size_t>{2}));

  std::vector<std::string> story;
  for (const auto& record : Log()) {
    std::string line = record["record"];
    if (record.contains("port")) line += " " + record["port"].get<std::string>();
    if (record.contains("exit_class")) line += " " + record["exit_class"].get<std::string>();
    story.push_back(line);
  }
  EXPECT_EQ(story, (std::vector<std::string>{"session_start", "module " + link + " line-lost",
                                             "port_lost " + link, "port_back " + link,
                                             "module " + link + " loaded", "session_end"}));
  EXPECT_EQ(Log()[1]["outcome"], LineLostText(link));
}

TEST_F(StationEndToEnd, CtrlCWhileWaitingEndsWithZero) {
  SimModule sim({"--modules", "1", "--gap", "100"});
  ChildProcess cli(Cli({"--station", "--log", LogPath(), "-p", sim.Path(), WriteImage(100)}));
  ASSERT_TRUE(cli.WaitForOut(
      [](const std::string& out) { return out.find("taken off") != std::string::npos; }, 60s));
  cli.Signal(SIGINT);
  EXPECT_EQ(cli.WaitExit(), 0) << cli.Err();
  EXPECT_EQ(cli.Err(), "");
  const auto lines = Lines(cli.Out());
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Image " + (m_dir.Path() / "image.mbf").string() + ": 100 bytes, SHA-256 " +
                          Log()[0]["sha256"].get<std::string>());
  EXPECT_EQ(lines[1], "Audit log: " + LogPath());
  EXPECT_EQ(lines[2], sim.Path() + ": waiting for a module");
  EXPECT_EQ(lines[3], sim.Path() + ": module 1: CONNECTED");
  EXPECT_EQ(lines.back().rfind("1 of 1 modules loaded in ", 0), 0u) << lines.back();
  EXPECT_EQ(Log().back()["reason"], "interrupted");
  EXPECT_EQ(Log().back()["exit_code"], 0);
}

TEST_F(StationEndToEnd, ALogThatCannotBeOpenedOrIsADeviceProgramsNothing) {
  SimModule sim({"--modules", "2", "--gap", "100", "--fault", "noreply@0#1"});
  const std::string image = WriteImage(100);
  {
    // A device is no audit log, not even one that takes writes: refused
    // before the port is opened. (A disk that fills up is tried on a file
    // with a size limit, in the audit file's own tests.)
    ChildProcess cli(Cli({"--station", "--log", "/dev/full", "-p", sim.Path(), image}));
    EXPECT_EQ(cli.WaitExit(), kExitUsage);
    EXPECT_EQ(cli.Err(),
              "--log: /dev/full is not a regular file: the audit log is never a port, a terminal "
              "or a pipe\nRun with --help for more information.\n");
    EXPECT_EQ(cli.Out(), "");
  }
  {
    // A log that cannot be opened: nothing is programmed at all.
    ChildProcess cli(
        Cli({"--station", "--log", "/nonexistent/audit.jsonl", "-p", sim.Path(), image}));
    EXPECT_EQ(cli.WaitExit(), kExitAuditLog);
    EXPECT_EQ(cli.Err(),
              "duvozeviv-cli: audit log /nonexistent/audit.jsonl: No such file or directory\n");
    EXPECT_EQ(cli.Out(), "");
  }
  EXPECT_TRUE(FlashedBy(sim).empty());
}

}  // namespace
}  // namespace vexel::cli

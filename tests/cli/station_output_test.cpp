// What each way of showing a station session prints for one scripted
// session: two modules on one port, the first loaded, the second failing.
#include "output/station_output.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/exit_codes.h"

namespace vexel::cli {
namespace {

PortEvent Event(PortEventKind kind, uint32_t position, const std::string& status, double elapsed,
                const std::string& message = {}) {
  PortEvent event;
  event.port = 0;
  event.kind = kind;
  event.position = position;
  event.total = 200;
  event.status = status;
  event.message = message;
  event.elapsed = elapsed;
  return event;
}

struct Printed {
  std::string out;
  std::string err;
};

Printed PlaySession(OutputMode mode, const std::string& port = "/dev/ttyUSB0") {
  OutputSettings settings;
  settings.mode = mode;
  settings.ports = {port};
  settings.width = 100;
  std::ostringstream out;
  std::ostringstream err;
  auto output = MakeStationOutput(settings, out, err);
  StationInfo info;
  info.image = "fw.mbf";
  info.size = 200;
  info.sha256 = std::string(64, 'a');
  info.log = "audit.jsonl";
  info.count = 2;
  output->Started(info);

  output->ModuleFound(0, 1, 1.0);
  output->OnEvent(1, Event(PortEventKind::Connected, 0, "CONNECTED", 2.0));
  output->OnEvent(1, Event(PortEventKind::Started, 0, "CONNECTED", 2.0));
  output->OnEvent(1, Event(PortEventKind::Status, 0, "PROGRAMMING", 2.0));
  output->OnEvent(1, Event(PortEventKind::Progress, 64, "PROGRAMMING", 2.1));
  output->Tick(2.2);
  output->OnEvent(1, Event(PortEventKind::Progress, 192, "PROGRAMMING", 2.3));
  output->OnEvent(1, Event(PortEventKind::Loaded, 200, "MODULE LOADED", 2.4));
  PortSummary loaded;
  loaded.port = port;
  loaded.outcome = "MODULE LOADED";
  loaded.loaded = true;
  loaded.started = true;
  loaded.bytes = 200;
  loaded.seconds = 0.4;
  StationCounts counts{1, 1, 0, "MODULE LOADED"};
  output->ModuleEnded(0, 1, loaded, counts, 2.4);
  output->ModuleRemoved(0, 1, 3.5);

  output->ModuleFound(0, 2, 5.0);
  output->OnEvent(2, Event(PortEventKind::Connected, 0, "CONNECTED", 6.0));
  output->OnEvent(2, Event(PortEventKind::Started, 0, "CONNECTED", 6.0));
  output->OnEvent(2,
                  Event(PortEventKind::Failed, 64, "NOT CONNECTED", 11.0, "Module not responding"));
  PortSummary failed;
  failed.port = port;
  failed.outcome = "Module not responding";
  failed.exitCode = kExitNotResponding;
  failed.started = true;
  failed.bytes = 64;
  failed.seconds = 5.0;
  counts = {2, 1, 1, "Module not responding"};
  output->ModuleEnded(0, 2, failed, counts, 11.0);
  output->PortStopped(0, "", 11.0);
  output->Notice("image_changed", "fw.mbf changed on disk", 11.5);
  output->Finish({counts}, kExitNotResponding, 12.0);
  return {out.str(), err.str()};
}

TEST(StationOutput, PlainLinesTellEachStepOfEachModule) {
  const Printed printed = PlaySession(OutputMode::Lines);
  EXPECT_EQ(printed.out,
            "Image fw.mbf: 200 bytes, SHA-256 " + std::string(64, 'a') +
                "\n"
                "Audit log: audit.jsonl\n"
                "/dev/ttyUSB0: waiting for a module\n"
                "/dev/ttyUSB0: module 1: CONNECTED\n"
                "/dev/ttyUSB0: module 1: sending 200 bytes\n"
                "/dev/ttyUSB0: module 1: PROGRAMMING\n"
                "/dev/ttyUSB0: module 1:  32% 64/200 bytes, 640 B/s, 0:00 left\n"
                "/dev/ttyUSB0: module 1:  96% 192/200 bytes, 640 B/s, 0:00 left\n"
                "/dev/ttyUSB0: module 1: MODULE LOADED in 0.40 s (500 B/s)\n"
                "/dev/ttyUSB0: module 1 taken off (1 loaded, 0 failed); waiting for a module\n"
                "/dev/ttyUSB0: module 2: CONNECTED\n"
                "/dev/ttyUSB0: module 2: sending 200 bytes\n"
                "/dev/ttyUSB0: done: 2 modules\n"
                "\n"
                "PORT          MODULES  LOADED  FAILED  LAST RESULT\n"
                "/dev/ttyUSB0        2       1       1  Module not responding\n"
                "total               2       1       1  -\n"
                "1 of 2 modules loaded in 0:12; exit status 6\n");
  EXPECT_EQ(printed.err,
            "/dev/ttyUSB0: module 2: Module not responding\n"
            "fw.mbf changed on disk\n");
}

// Every port ends with a stopped event, whatever ended the session.
TEST(StationOutput, JsonTellsWhyEachPortStopped) {
  OutputSettings settings;
  settings.mode = OutputMode::Json;
  settings.ports = {"A", "B", "C", "D"};
  std::ostringstream out;
  std::ostringstream err;
  auto output = MakeStationOutput(settings, out, err);
  output->PortStopped(0, "", 1.0);
  output->PortStopped(1, "Cannot open open B: result 5", 1.5);
  output->PortEnded(2, "interrupted", 2.0);
  output->PortEnded(3, "log-failed", 2.5);
  EXPECT_EQ(
      out.str(),
      R"({"elapsed":1.0,"event":"stopped","message":null,"port":"A","reason":"count"})"
      "\n"
      R"({"elapsed":1.5,"event":"stopped","message":"Cannot open open B: result 5","port":"B","reason":"port"})"
      "\n"
      R"({"elapsed":2.0,"event":"stopped","message":null,"port":"C","reason":"interrupted"})"
      "\n"
      R"({"elapsed":2.5,"event":"stopped","message":null,"port":"D","reason":"log-failed"})"
      "\n");
}

TEST(StationOutput, JsonModuleEventsNameTheAdapterWhereKnown) {
  OutputSettings settings;
  settings.mode = OutputMode::Json;
  settings.ports = {"A", "B"};
  std::ostringstream out;
  std::ostringstream err;
  auto output = MakeStationOutput(settings, out, err);
  output->PortAdapter(0, {{"driver", "ftdi_sio"}, {"usb", "0403:6001"}});
  output->PortAdapter(1, nullptr);
  output->ModuleRemoved(0, 1, 1.0);
  output->ModuleRemoved(1, 1, 1.0);
  EXPECT_EQ(
      out.str(),
      R"({"adapter":{"driver":"ftdi_sio","usb":"0403:6001"},"elapsed":1.0,"event":"module","module":1,"port":"A","state":"removed"})"
      "\n"
      R"({"elapsed":1.0,"event":"module","module":1,"port":"B","state":"removed"})"
      "\n");
}

// An adapter warning: a line on the error stream in every mode, and in JSON
// the event a load writes for it.
TEST(StationOutput, AdapterWarningsGoToTheErrorStreamAndJson) {
  for (OutputMode mode : {OutputMode::Lines, OutputMode::Quiet, OutputMode::Json}) {
    OutputSettings settings;
    settings.mode = mode;
    settings.ports = {"A\n"};
    std::ostringstream out;
    std::ostringstream err;
    auto output = MakeStationOutput(settings, out, err);
    output->PortWarning(0, "the adapter's latency timer is 16 ms", 1.25);
    EXPECT_EQ(err.str(), "A\\x0A: warning: the adapter's latency timer is 16 ms\n");
    EXPECT_EQ(
        out.str(),
        mode != OutputMode::Json
            ? ""
            : R"({"elapsed":1.25,"event":"warning","message":"the adapter's latency timer is 16 ms","port":"A\n"})"
              "\n");
  }
}

TEST(StationOutput, QuietShowsOnlyEachModulesResult) {
  const Printed printed = PlaySession(OutputMode::Quiet);
  EXPECT_EQ(printed.out, "/dev/ttyUSB0: module 1: MODULE LOADED\n");
  EXPECT_EQ(printed.err,
            "/dev/ttyUSB0: module 2: Module not responding\n"
            "fw.mbf changed on disk\n");
}

TEST(StationOutput, JsonLinesCarryModuleAndSessionEvents) {
  const Printed printed = PlaySession(OutputMode::Json);
  std::vector<std::string> summary;
  std::istringstream in(printed.out);
  for (std::string line; std::getline(in, line);) {
    const auto event = nlohmann::json::parse(line);
    std::string text = event["event"].get<std::string>();
    if (event.contains("state")) text += " " + event["state"].get<std::string>();
    if (event.contains("module")) text += " #" + std::to_string(event["module"].get<int>());
    summary.push_back(text);
  }
  EXPECT_EQ(summary, (std::vector<std::string>{"session started",
                                               "module found #1",
                                               "connected #1",
                                               "started #1",
                                               "status #1",
                                               "progress #1",
                                               "progress #1",
                                               "loaded #1",
                                               "module loaded #1",
                                               "module removed #1",
                                               "module found #2",
                                               "connected #2",
                                               "started #2",
                                               "failed #2",
                                               "module failed #2",
                                               "stopped",
                                               "session image_changed",
                                               "result",
                                               "session ended",
                                               "exit"}));
  std::istringstream again(printed.out);
  std::string first;
  std::getline(again, first);
  EXPECT_EQ(nlohmann::json::parse(first), (nlohmann::json{{"event", "session"},
                                                          {"state", "started"},
                                                          {"image", "fw.mbf"},
                                                          {"size", 200},
                                                          {"sha256", std::string(64, 'a')},
                                                          {"ports", {"/dev/ttyUSB0"}},
                                                          {"count", 2},
                                                          {"log", "audit.jsonl"},
                                                          {"elapsed", 0}}));
  const std::string failedModule =
      R"({"bytes":64,"bytes_per_second":0.0,"elapsed":11.0,"event":"module","exit_code":6,)"
      R"("failed":1,"loaded":1,"message":"Module not responding","module":2,)"
      R"("port":"/dev/ttyUSB0","result":"Module not responding","seconds":5.0,"state":"failed"})";
  EXPECT_NE(printed.out.find(failedModule + "\n"), std::string::npos) << printed.out;
  EXPECT_NE(printed.out.find(R"({"elapsed":12.0,"event":"session","exit_code":6,"failed":1,)"
                             R"("loaded":1,"modules":2,"state":"ended"})"
                             "\n"),
            std::string::npos);
  EXPECT_EQ(printed.err,
            "/dev/ttyUSB0: module 2: Module not responding\n"
            "fw.mbf changed on disk\n");
}

TEST(StationOutput, LiveViewRedrawsALinePerPortAndATotal) {
  const Printed printed = PlaySession(OutputMode::Bars);
  // The screen after each redraw: the lines between cursor movements.
  const std::string& out = printed.out;
  auto frameAt = [&](const std::string& marker) {
    const size_t at = out.find(marker);
    EXPECT_NE(at, std::string::npos) << marker;
    const size_t begin = out.rfind("\r\x1b[2K", at);
    return out.substr(begin, out.find('\n', at) - begin);
  };
  EXPECT_EQ(out.substr(0, out.find('\r')), "Image fw.mbf: 200 bytes, SHA-256 " +
                                               std::string(64, 'a') + "\nAudit log: audit.jsonl\n");
  EXPECT_EQ(frameAt("waiting for a module"),
            "\r\x1b[2K/dev/ttyUSB0  loaded 0  failed 0  waiting for a module");
  EXPECT_EQ(frameAt("module 1: connecting"),
            "\r\x1b[2K/dev/ttyUSB0  loaded 0  failed 0  module 1: connecting");
  EXPECT_EQ(frameAt("programming 96%"),
            "\r\x1b[2K/dev/ttyUSB0  loaded 0  failed 0  module 1: programming 96%, 0:00 left");
  EXPECT_EQ(frameAt("take it off"),
            "\r\x1b[2K/dev/ttyUSB0  loaded 1  failed 0  module 1: MODULE LOADED, take it off");
  EXPECT_EQ(frameAt("total         loaded 1"),
            "\r\x1b[2Ktotal         loaded 1  failed 0  session 0:02");
  EXPECT_EQ(frameAt("FAILED:"),
            "\r\x1b[2K/dev/ttyUSB0  loaded 1  failed 1  module 2: FAILED: Module not "
            "responding, take it off");
  // The failure goes above the view, which is erased first and drawn again.
  EXPECT_NE(out.find("\x1b[2A\r\x1b[J"), std::string::npos);
  EXPECT_EQ(printed.err,
            "/dev/ttyUSB0: module 2: Module not responding\n"
            "fw.mbf changed on disk\n");
  EXPECT_EQ(out.substr(out.rfind("\n\nPORT")),
            "\n\nPORT          MODULES  LOADED  FAILED  LAST RESULT\n"
            "/dev/ttyUSB0        2       1       1  Module not responding\n"
            "total               2       1       1  -\n"
            "1 of 2 modules loaded in 0:12; exit status 6\n");
}

TEST(StationOutput, NamesAreEscapedInEveryTextLine) {
  const Printed printed = PlaySession(OutputMode::Lines, "/dev/x\x1b[2J");
  EXPECT_EQ(printed.out.find('\x1b'), std::string::npos);
  EXPECT_NE(printed.out.find("/dev/x\\x1B[2J: module 1: CONNECTED\n"), std::string::npos);
  EXPECT_EQ(printed.err.substr(0, printed.err.find('\n')),
            "/dev/x\\x1B[2J: module 2: Module not responding");
}

}  // namespace
}  // namespace vexel::cli

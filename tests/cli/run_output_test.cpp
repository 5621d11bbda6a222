#include "output/run_output.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

namespace vexel::cli {
namespace {

PortEvent Event(size_t port, PortEventKind kind, double elapsed, uint32_t position = 0,
                uint32_t total = 0, const std::string& status = "CONNECTED",
                const std::string& message = {}) {
  PortEvent event;
  event.port = port;
  event.kind = kind;
  event.elapsed = elapsed;
  event.position = position;
  event.total = total;
  event.status = status;
  event.message = message;
  return event;
}

struct Streams {
  std::ostringstream out;
  std::ostringstream err;
};

std::unique_ptr<RunOutput> Make(OutputMode mode, Streams& s, std::vector<std::string> ports,
                                int width = 80) {
  OutputSettings settings;
  settings.mode = mode;
  settings.ports = std::move(ports);
  settings.width = width;
  settings.errOnTerminal = true;
  return MakeRunOutput(settings, s.out, s.err);
}

// Port A loads a 1000-byte image; port B fails while A runs.
void FeedRun(RunOutput& output) {
  using K = PortEventKind;
  output.OnEvent(Event(0, K::Connecting, 0.0, 0, 0, "NOT CONNECTED"));
  output.OnEvent(Event(1, K::Connecting, 0.0, 0, 0, "NOT CONNECTED"));
  output.OnEvent(Event(0, K::Connected, 1.0));
  output.OnEvent(Event(0, K::Started, 1.0, 0, 1000));
  output.OnEvent(Event(0, K::Status, 1.1, 0, 1000, "PROGRAMMING"));
  output.OnEvent(Event(0, K::Progress, 1.2, 64, 1000, "PROGRAMMING"));
  output.OnEvent(Event(0, K::Progress, 1.3, 90, 1000, "PROGRAMMING"));   // same tenth
  output.OnEvent(Event(0, K::Progress, 1.4, 100, 1000, "PROGRAMMING"));  // next tenth
  output.OnEvent(Event(1, K::Failed, 2.0, 0, 0, "NOT CONNECTED", "Unable to connect to module"));
  output.OnEvent(Event(0, K::Progress, 7.0, 150, 1000, "PROGRAMMING"));  // 5 s later
  output.OnEvent(Event(0, K::Loaded, 8.0, 1000, 1000, "MODULE LOADED"));
}

std::vector<PortSummary> Rows() {
  return {{"A", "MODULE LOADED", 0, true, true, 1000, 7.0, 1107},
          {"B", "Unable to connect to module", 5, false, false, 0, 0, 0}};
}

TEST(RunOutput, PlainLinesAtEachStepAndEveryTenthOrFiveSeconds) {
  Streams s;
  auto output = Make(OutputMode::Lines, s, {"A", "B"});
  FeedRun(*output);
  output->Finish(Rows(), 5);
  EXPECT_EQ(s.out.str(),
            "A: connecting\n"
            "B: connecting\n"
            "A: CONNECTED\n"
            "A: sending 1000 bytes\n"
            "A: PROGRAMMING\n"
            "A:   6% 64/1000 bytes, 320 B/s, 0:03 left\n"
            "A:  10% 100/1000 bytes, 250 B/s, 0:04 left\n"
            "A:  15% 150/1000 bytes, 25 B/s, 0:34 left\n"
            "A: MODULE LOADED\n"
            "\n"
            "PORT  RESULT                       BYTES  SECONDS  BYTES/S  OF CEILING\n"
            "A     MODULE LOADED                 1000     7.00      143        3.3%\n"
            "B     Unable to connect to module      0        -        -           -\n"
            "1 of 2 modules loaded; exit status 5\n");
  EXPECT_EQ(s.err.str(), "B: Unable to connect to module\n");
}

TEST(RunOutput, QuietShowsOnlyResults) {
  Streams s;
  auto output = Make(OutputMode::Quiet, s, {"A", "B"});
  FeedRun(*output);
  output->Finish(Rows(), 5);
  EXPECT_EQ(s.out.str(), "A: MODULE LOADED\n");
  EXPECT_EQ(s.err.str(), "B: Unable to connect to module\n");
}

TEST(RunOutput, JsonLinesCarryEveryEventWithTheSameFields) {
  Streams s;
  auto output = Make(OutputMode::Json, s, {"A", "B"});
  FeedRun(*output);
  output->Tick(8.5);
  output->Finish(Rows(), 5);
  std::istringstream lines(s.out.str());
  std::vector<nlohmann::json> events;
  for (std::string line; std::getline(lines, line);) events.push_back(nlohmann::json::parse(line));
  ASSERT_EQ(events.size(), 11u + 2 + 1);
  for (size_t i = 0; i + 1 < events.size(); ++i) {
    for (const char* key : {"port", "event", "position", "total", "status", "message", "elapsed"}) {
      EXPECT_TRUE(events[i].contains(key)) << i << " " << key;
    }
  }
  EXPECT_EQ(events[5].dump(),
            R"({"elapsed":1.2,"event":"progress","message":null,"port":"A","position":64,)"
            R"("status":"PROGRAMMING","total":1000})");
  EXPECT_EQ(events[8]["event"], "failed");
  EXPECT_EQ(events[8]["message"], "Unable to connect to module");
  EXPECT_EQ(events[10]["event"], "loaded");
  EXPECT_EQ(events[11]["event"], "result");
  EXPECT_EQ(events[11]["exit_code"], 0);
  EXPECT_EQ(events[11]["line_bytes"], 1107);
  EXPECT_EQ(events[12]["status"], "Unable to connect to module");
  EXPECT_EQ(events[12]["exit_code"], 5);
  EXPECT_EQ(events[13].dump(), R"({"elapsed":8.5,"event":"exit","exit_code":5})");
  EXPECT_EQ(s.err.str(), "B: Unable to connect to module\n");
}

constexpr const char* kClear = "\r\x1b[2K";

TEST(RunOutput, BarsRedrawInPlaceAtMostTenTimesASecond) {
  Streams s;
  using K = PortEventKind;
  auto output = Make(OutputMode::Bars, s, {"A", "BB"}, 100);
  const std::string idleA = "A   [------------------------]   0%  CONNECTING\n";
  const std::string idleB = "BB  [------------------------]   0%  CONNECTING\n";
  output->OnEvent(Event(0, K::Connecting, 0.0, 0, 0, "NOT CONNECTED"));
  EXPECT_EQ(s.out.str(), kClear + idleA + kClear + idleB);

  s.out.str("");
  output->OnEvent(Event(0, K::Started, 0.2, 0, 1000));
  output->OnEvent(Event(0, K::Progress, 0.25, 500, 1000, "PROGRAMMING"));  // too soon
  const std::string startedA = "A   [------------------------]   0% 0/1000 bytes  CONNECTED\n";
  EXPECT_EQ(s.out.str(), "\x1b[2A" + (kClear + startedA) + kClear + idleB);

  s.out.str("");
  output->Tick(0.28);  // still too soon
  EXPECT_EQ(s.out.str(), "");
  output->Tick(0.32);
  const std::string halfA =
      "A   [############------------]  50% 500/1000 bytes  4.2 kB/s  0:00 left  PROGRAMMING\n";
  EXPECT_EQ(s.out.str(), "\x1b[2A" + (kClear + halfA) + kClear + idleB);

  // A failure is printed above the bars, which are drawn again below it.
  s.out.str("");
  output->OnEvent(Event(1, K::Failed, 0.4, 0, 0, "NOT CONNECTED", "Cannot open open BB"));
  EXPECT_EQ(s.err.str(), "BB: Cannot open open BB\n");
  const std::string failedB = "BB  [------------------------]   0%  FAILED\n";
  const std::string halfAt04 =
      "A   [############------------]  50% 500/1000 bytes  2.5 kB/s  0:00 left  PROGRAMMING\n";
  EXPECT_EQ(s.out.str(), "\x1b[2A\r\x1b[J" + (kClear + halfAt04) + kClear + failedB);
}

TEST(RunOutput, BarsAreCutToTheTerminalWidth) {
  Streams s;
  auto output = Make(OutputMode::Bars, s, {"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART-if00"}, 40);
  output->OnEvent(Event(0, PortEventKind::Connecting, 0.0));
  EXPECT_EQ(s.out.str(), std::string(kClear) + "/dev/serial/by-id/usb-FTDI_FT232R_USB_U\n");
}

TEST(RunOutput, TraceLinesGoToTheErrorStream) {
  for (OutputMode mode : {OutputMode::Lines, OutputMode::Quiet, OutputMode::Json}) {
    Streams s;
    auto output = Make(mode, s, {"A"});
    output->Trace("1 A TX CONNECT       B0 EF 01 00");
    EXPECT_EQ(s.err.str(), "1 A TX CONNECT       B0 EF 01 00\n");
    EXPECT_EQ(s.out.str(), "");
  }
}

// A warning goes to the error stream in every mode, with the port, and is
// also a JSON event; it changes nothing of the port's state.
TEST(RunOutput, WarningsGoToTheErrorStreamAndAreAJsonEvent) {
  const std::string text = "the adapter's latency timer is 16 ms";
  for (OutputMode mode :
       {OutputMode::Lines, OutputMode::Quiet, OutputMode::Json, OutputMode::Bars}) {
    Streams s;
    auto output = Make(mode, s, {"A", "B\n"});
    output->OnEvent(Event(1, PortEventKind::Connecting, 0.0, 0, 0, "NOT CONNECTED"));
    const std::string before = s.out.str();
    output->Warn(1, text);
    EXPECT_EQ(s.err.str(), "B\\x0A: warning: " + text + "\n") << static_cast<int>(mode);
    if (mode == OutputMode::Bars) continue;  // the bars are erased above it and redrawn later
    const std::string added = s.out.str().substr(before.size());
    if (mode != OutputMode::Json) {
      EXPECT_EQ(added, "") << static_cast<int>(mode);
      continue;
    }
    EXPECT_EQ(nlohmann::json::parse(added), nlohmann::json({{"port", "B\n"},
                                                            {"event", "warning"},
                                                            {"position", 0},
                                                            {"total", 0},
                                                            {"status", "NOT CONNECTED"},
                                                            {"message", text},
                                                            {"elapsed", 0.0}}));
  }
}

// Port names and failure texts come from outside: a newline in them must not
// forge a line, an escape must not reach the terminal.
constexpr const char* kForgingName = "/x/a\nFAKE: MODULE LOADED";
constexpr const char* kForgingShown = "/x/a\\x0AFAKE: MODULE LOADED";
constexpr const char* kEscapeName =
    "COM\x1b[2J\xc2\x9b"
    "1";
constexpr const char* kEscapeShown = "COM\\x1B[2J\\xC2\\x9B1";

void FeedForgedRun(RunOutput& output) {
  using K = PortEventKind;
  const std::string busy = std::string("Cannot open open ") + kEscapeName +
                           ": the port is busy: another program holds it: ev\nil\x7f (pid 7)";
  output.OnEvent(Event(0, K::Connecting, 0.0, 0, 0, "NOT CONNECTED"));
  output.OnEvent(Event(1, K::Connecting, 0.0, 0, 0, "NOT CONNECTED"));
  output.OnEvent(Event(1, K::Failed, 0.1, 0, 0, "NOT CONNECTED", busy));
  output.OnEvent(Event(0, K::Connected, 1.0));
  output.OnEvent(Event(0, K::Started, 1.0, 0, 10));
  output.OnEvent(Event(0, K::Loaded, 2.0, 10, 10, "MODULE LOADED"));
}

TEST(RunOutput, ControlCharactersInNamesAndTextsAreEscaped) {
  const std::string forged = kForgingShown;
  const std::string escaped = kEscapeShown;
  const std::string failure = escaped + ": Cannot open open " + escaped +
                              ": the port is busy: another program holds it: ev\\x0Ail\\x7F "
                              "(pid 7)\n";
  const std::vector<PortSummary> rows = {
      {kForgingName, "MODULE LOADED", 0, true, true, 10, 1.0, 100},
      {kEscapeName, "Cannot open open " + std::string(kEscapeName), 4, false, false, 0, 0, 0}};
  const struct {
    OutputMode mode;
    std::string out;
  } cases[] = {
      {OutputMode::Lines,
       forged + ": connecting\n" + escaped + ": connecting\n" + forged + ": CONNECTED\n" + forged +
           ": sending 10 bytes\n" + forged + ": MODULE LOADED\n\n" +
           "PORT                         RESULT                                BYTES  SECONDS  "
           "BYTES/S  OF CEILING\n" +
           forged +
           "  MODULE LOADED                            10     1.00       10        "
           "2.1%\n" +
           escaped + "          Cannot open open " + escaped +
           "      0        -        -           -\n"
           "1 of 2 modules loaded; exit status 4\n"},
      {OutputMode::Quiet, forged + ": MODULE LOADED\n"},
  };
  for (const auto& c : cases) {
    Streams s;
    auto output = Make(c.mode, s, {kForgingName, kEscapeName});
    FeedForgedRun(*output);
    output->Finish(rows, 4);
    EXPECT_EQ(s.out.str(), c.out);
    EXPECT_EQ(s.err.str(), failure);
  }
}

TEST(RunOutput, ControlCharactersInNamesAreEscapedInTheBars) {
  Streams s;
  auto output = Make(OutputMode::Bars, s, {kForgingName, kEscapeName}, 100);
  output->OnEvent(Event(0, PortEventKind::Connecting, 0.0, 0, 0, "NOT CONNECTED"));
  EXPECT_EQ(s.out.str(), kClear + std::string(kForgingShown) +
                             "  [------------------------]   0%  CONNECTING\n" + kClear +
                             kEscapeShown +
                             "          [------------------------]   0%  CONNECTING\n");
}

// A name in another encoding than UTF-8 cannot go into JSON as it is; its
// bytes are written as \xHH rather than ending the program.
TEST(RunOutput, JsonCarriesBytesThatAreNotUtf8AsEscapes) {
  Streams s;
  auto output = Make(OutputMode::Json, s, {"/x/\xff\n"});
  EXPECT_NO_THROW({
    output->OnEvent(Event(0, PortEventKind::Failed, 0.5, 0, 0, "NOT CONNECTED",
                          "Cannot open open /x/\xff\n: \xfe\xc3"));
    output->Finish({{"/x/\xff\n", "Cannot open open /x/\xff\n", 4, false, false, 0, 0, 0}}, 4);
  });
  EXPECT_EQ(
      s.out.str(),
      R"({"elapsed":0.5,"event":"failed","message":"Cannot open open /x/\\xFF\n: \\xFE\\xC3",)"
      R"("port":"/x/\\xFF\n","position":0,"status":"NOT CONNECTED","total":0})"
      "\n"
      R"({"bytes_per_second":0.0,"ceiling_share":0.0,"elapsed":0.5,"event":"result",)"
      R"("exit_code":4,"line_bytes":0,"message":"Cannot open open /x/\\xFF\n","port":)"
      R"("/x/\\xFF\n","position":0,"seconds":0.0,"status":"Cannot open open /x/\\xFF\n",)"
      R"("total":0})"
      "\n"
      R"({"elapsed":0.5,"event":"exit","exit_code":4})"
      "\n");
  EXPECT_EQ(s.err.str(), "/x/\\xFF\\x0A: Cannot open open /x/\\xFF\\x0A: \\xFE\\xC3\n");
}

}  // namespace
}  // namespace vexel::cli

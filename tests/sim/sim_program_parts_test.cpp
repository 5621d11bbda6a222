// The pieces of the simulator program: the image files of --out,
// the report lines, the command line, and the pacing of the line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "action_queue.h"
#include "event_report.h"
#include "image_sink.h"
#include "line_pacing.h"
#include "options.h"

namespace vexel::sim {
namespace {

std::string TempPath(const std::string& name) {
  return "/tmp/vexel-sim-parts-" + std::to_string(::getpid()) + "-" + name;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TEST(ImageSinkTest, KeepsTheLatestInAFileOrEachInADirectory) {
  const std::string file = TempPath("image.mbf");
  const std::string dir = TempPath("dir") + "/";
  std::string error;
  ImageSink toFile(file), toDir(dir), none("");
  for (ImageSink* sink : {&toFile, &toDir, &none}) ASSERT_TRUE(sink->Prepare(error)) << error;
  EXPECT_EQ(none.Save(1, {1}, error), "");
  EXPECT_EQ(toFile.Save(1, {1, 2, 3}, error), file);
  EXPECT_EQ(toFile.Save(2, {4}, error), file);
  EXPECT_EQ(ReadFile(file), std::vector<uint8_t>{4});
  EXPECT_EQ(toDir.Save(1, {5, 6}, error), dir + "image-0001.mbf");
  EXPECT_EQ(toDir.Save(12, {}, error), dir + "image-0012.mbf");
  EXPECT_EQ(ReadFile(dir + "image-0001.mbf"), (std::vector<uint8_t>{5, 6}));
  EXPECT_TRUE(ReadFile(dir + "image-0012.mbf").empty());
  EXPECT_TRUE(error.empty()) << error;
  for (const std::string& f : {file, dir + "image-0001.mbf", dir + "image-0012.mbf"})
    ::unlink(f.c_str());
  ::rmdir(dir.c_str());
}

TEST(ImageSinkTest, RefusesAMissingDirectoryBeforeAnyImage) {
  std::string error;
  EXPECT_FALSE(ImageSink("/nonexistent/a/b.mbf").Prepare(error));
  EXPECT_EQ(error, "/nonexistent/a/: no such directory");
  EXPECT_FALSE(ImageSink("/nonexistent/a/").Prepare(error));
  EXPECT_EQ(error, "/nonexistent/a/: No such file or directory");
}

// Every event in both forms, line for line.
TEST(EventReportTest, WritesOneLinePerEvent) {
  const std::vector<uint8_t> init{0xB0, 0xEF, 0x55, 0x02, 0xAA, 0x04};
  const std::vector<uint8_t> ack{0xB0, 0xEF, 0xAA, 0x01, 0x00};
  const std::vector<ModuleFault> faults{{{FaultKind::Noise, 2, 4, true}, 0},
                                        {{FaultKind::HangUp, 5, 0, false}, 2}};
  const int64_t ms = 1000000;
  const struct {
    bool json;
    std::vector<std::string> lines;
  } kCases[] = {
      {false,
       {"module ready on /dev/pts/7 (link /tmp/com1), 3 module(s) one after another, 250 ms apart, "
        "faults: noise:4@2! hangup@5#2",
        "module 1 attached", "line opened by a loader", "request INIT step 1: b0 ef 55 02 aa 04",
        "reply b0 ef aa 01 00", "reply b0 ef aa 01 00 (dropped: no loader has the line open)",
        "image 1 flashed by module 2: 3 bytes, sha256 abc, written to /tmp/x",
        "module 2 removed (flashed)", "image 2 flashed: 0 bytes, sha256 e3b0",
        "image 3 flashed: 1 bytes, sha256 6e34, not written: /tmp/full/x: No space left on device",
        "violation: chunk of 65 bytes (limit 64)", "line closed by the loader", "hang-up at step 5",
        "end (hangup): 1 image(s) flashed, 1 violation(s), exit status 1"}},
      {true,
       {R"j({"event":"ready","path":"/dev/pts/7","faults":["noise:4@2!","hangup@5#2"],"link":"/tmp/com1","modules":3,"gap_ms":250})j",
        R"j({"event":"module","t_ms":0.5,"index":1,"state":"attached"})j",
        R"j({"event":"line","t_ms":1.0,"state":"open"})j",
        R"j({"event":"request","t_ms":1.5,"name":"INIT","step":1,"length":2,"frame":"b0ef5502aa04"})j",
        R"j({"event":"reply","t_ms":2.0,"bytes":"b0efaa0100"})j",
        R"j({"event":"reply","t_ms":2.5,"bytes":"b0efaa0100","dropped":true})j",
        R"j({"event":"image","t_ms":3.0,"index":1,"module":2,"length":3,"sha256":"abc","file":"/tmp/x"})j",
        R"j({"event":"module","t_ms":3.0,"index":2,"state":"removed","reason":"flashed"})j",
        R"j({"event":"image","t_ms":3.5,"index":2,"length":0,"sha256":"e3b0"})j",
        R"j({"event":"image","t_ms":3.5,"index":3,"length":1,"sha256":"6e34","write_error":"/tmp/full/x: No space left on device"})j",
        R"j({"event":"violation","t_ms":4.0,"kind":"OversizedChunk","text":"chunk of 65 bytes (limit 64)"})j",
        R"j({"event":"line","t_ms":4.5,"state":"closed"})j",
        R"j({"event":"hangup","t_ms":5.0,"step":5})j",
        R"j({"event":"end","t_ms":6.0,"reason":"hangup","images":1,"violations":1,"exit_status":1})j"}},
  };
  for (const auto& c : kCases) {
    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* out = ::open_memstream(&buffer, &size);
    ASSERT_NE(out, nullptr);
    EventReport report(out, c.json, 10 * ms);
    report.Ready("/dev/pts/7", "/tmp/com1", faults, {3, 250});
    report.Module(10 * ms + ms / 2, 1);
    report.LineState(11 * ms, true);
    report.Request(11 * ms + ms / 2, "INIT", init, 1);
    report.Reply(12 * ms, ack);
    report.Reply(12 * ms + ms / 2, ack, true);
    report.Image(13 * ms, {1, 3, "abc", "/tmp/x", 2});
    report.Module(13 * ms, 2, "flashed");
    report.Image(13 * ms + ms / 2, {2, 0, "e3b0", ""});
    report.Image(13 * ms + ms / 2, {3, 1, "6e34", "", 0, "/tmp/full/x: No space left on device"});
    report.LoaderViolation(14 * ms,
                           {ViolationKind::OversizedChunk, "chunk of 65 bytes (limit 64)"});
    report.LineState(14 * ms + ms / 2, false);
    report.HangUp(15 * ms, 5);
    report.End(16 * ms, EndReason::HangUp, 1, 1, 1);
    std::fclose(out);
    std::string expected;
    for (const std::string& line : c.lines) expected += line + "\n";
    EXPECT_EQ(std::string(buffer, size), expected);
    std::free(buffer);
  }
}

// A reader that takes nothing: every call returns at once, lines beyond the
// queue are counted in one note, and the first and last lines are kept.
TEST(EventReportTest, NeverWaitsForItsReaderAndCountsWhatItDrops) {
  for (const bool json : {false, true}) {
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    std::FILE* out = ::fdopen(pipeFds[1], "w");
    ASSERT_NE(out, nullptr);
    const std::vector<uint8_t> ack{0xB0, 0xEF, 0xAA, 0x01, 0x00};
    constexpr size_t kReplies = 10000;  // some 300 KB, beyond a pipe and the queue
    ASSERT_EQ(::fcntl(pipeFds[0], F_SETFL, O_NONBLOCK), 0);
    std::string text;
    auto take = [&] {
      char buffer[4096];
      ssize_t n;
      while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    };
    {
      EventReport report(out, json, 0);
      report.Ready("/dev/pts/7", "", {});
      for (size_t i = 0; i < kReplies; ++i) report.Reply(1000, ack);
      report.End(2000, EndReason::Signal, 0, 0, 0);
      EXPECT_TRUE(text.empty());  // nothing was read, and nothing waited
      // Now the reader catches up: the queue and its note follow.
      while (report.WaitingFd() != -1) {
        take();
        report.Flush();
      }
    }
    std::fclose(out);
    take();
    ::close(pipeFds[0]);
    EXPECT_LE(text.size(), 64 * 1024 + EventReport::kQueueLimit + 200);
    EXPECT_EQ(text.rfind(json ? R"({"event":"ready")" : "module ready on /dev/pts/7", 0), 0u);
    const std::string reply = json ? R"j({"event":"reply","t_ms":0.001,"bytes":"b0efaa0100"})j"
                                   : "reply b0 ef aa 01 00";
    size_t replies = 0;
    for (size_t at = text.find(reply); at != std::string::npos; at = text.find(reply, at + 1))
      ++replies;
    EXPECT_GT(replies, 0u);
    EXPECT_LT(replies, kReplies);
    const std::string note = json ? R"({"event":"dropped","count":)" +
                                        std::to_string(kReplies - replies) + "}\n"
                                  : std::to_string(kReplies - replies) +
                                        " event line(s) dropped: the output was not read\n";
    const std::string end =
        json
            ? R"j({"event":"end","t_ms":0.002,"reason":"signal","images":0,"violations":0,"exit_status":0})j"
            : "end (signal): 0 image(s) flashed, 0 violation(s), exit status 0";
    EXPECT_EQ(text.substr(text.size() - note.size() - end.size() - 1), note + end + "\n");
  }
}

// A byte that is not UTF-8 in a path becomes U+FFFD in JSON; text keeps it.
TEST(EventReportTest, PathsThatAreNotUtf8) {
  for (const bool json : {false, true}) {
    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* out = ::open_memstream(&buffer, &size);
    ASSERT_NE(out, nullptr);
    EventReport report(out, json, 0);
    report.Ready("/dev/pts/7", "/tmp/com\xff", {});
    report.Image(0, {1, 3, "abc", "/tmp/x\xff\xfe.mbf"});
    std::fclose(out);
    EXPECT_EQ(std::string(buffer, size),
              json ? "{\"event\":\"ready\",\"path\":\"/dev/pts/7\",\"faults\":[],\"link\":\"/tmp/"
                     "com\xef\xbf\xbd\"}\n"
                     "{\"event\":\"image\",\"t_ms\":0.0,\"index\":1,\"length\":3,\"sha256\":"
                     "\"abc\",\"file\":"
                     "\"/tmp/x\xef\xbf\xbd\xef\xbf\xbd.mbf\"}\n"
                   : "module ready on /dev/pts/7 (link /tmp/com\xff)\n"
                     "image 1 flashed: 3 bytes, sha256 abc, written to /tmp/x\xff\xfe.mbf\n");
    std::free(buffer);
  }
}

ParseResult Parse(std::vector<const char*> args, Options& options, std::string& message) {
  args.insert(args.begin(), "vexel-module-sim");
  return ParseOptions(static_cast<int>(args.size()), args.data(), options, message);
}

// One exchange per row on a line of 10 ns per byte: a 4-byte request read at
// readNs, then its 2-byte reply written writeLateNs after it was due.
// Actions come out by due time, those due together in the order they were
// scheduled, and none before its time.
TEST(ActionQueueTest, HandsOutWhatIsDueInTimeThenScheduleOrder) {
  ActionQueue queue;
  EXPECT_EQ(queue.NextDue(), std::nullopt);
  EXPECT_FALSE(queue.HoldsOtherThan(ActionKind::Attach));
  queue.Schedule(30, {ActionKind::Attach, {}});
  EXPECT_FALSE(queue.HoldsOtherThan(ActionKind::Attach));
  queue.Schedule(20, {ActionKind::Transmit, {0x01}});
  queue.Schedule(10, {ActionKind::Consume, {0x02}});
  queue.Schedule(20, {ActionKind::Write, {0x03}});
  EXPECT_TRUE(queue.HoldsOtherThan(ActionKind::Attach));
  EXPECT_EQ(queue.NextDue(), 10);

  Action action{ActionKind::Wake, {}};
  int64_t due = -1;
  EXPECT_FALSE(queue.TakeDue(9, action, due)) << "nothing is due before its time";
  EXPECT_EQ(due, -1);
  const struct {
    ActionKind kind;
    uint8_t byte;
    int64_t due;
  } kOrder[] = {{ActionKind::Consume, 0x02, 10},
                {ActionKind::Transmit, 0x01, 20},
                {ActionKind::Write, 0x03, 20}};
  for (const auto& expected : kOrder) {
    ASSERT_TRUE(queue.TakeDue(25, action, due));
    EXPECT_EQ(action.kind, expected.kind);
    EXPECT_EQ(action.bytes, std::vector<uint8_t>{expected.byte});
    EXPECT_EQ(due, expected.due);
  }
  EXPECT_FALSE(queue.TakeDue(25, action, due));
  EXPECT_EQ(queue.NextDue(), 30);
  ASSERT_TRUE(queue.TakeDue(30, action, due));
  EXPECT_EQ(action.kind, ActionKind::Attach);
  EXPECT_EQ(queue.NextDue(), std::nullopt);
}

TEST(LinePacingTest, EachDirectionQueuesItsBytesAndOwnLatenessIsNotCharged) {
  const struct {
    const char* what;
    int64_t readNs;
    int64_t writeLateNs;
    int64_t receivedNs;  // when the request counts as arrived
    int64_t repliedNs;   // when the reply has fully left
  } kRows[] = {
      {"first request, reply on time", 1000, 0, 1040, 1060},
      {"read later than the line was free", 2000, 300, 2040, 2060},
      {"the 300 ns the reply was late are taken off", 2400, 0, 2140, 2160},
      {"read before the last bytes arrived: queued behind them", 2120, 0, 2180, 2200},
  };
  LinePacing pacing(10);
  for (const auto& row : kRows) {
    EXPECT_EQ(pacing.Received(row.readNs, 4), row.receivedNs) << row.what;
    EXPECT_EQ(pacing.Transmitted(row.receivedNs, 2), row.repliedNs) << row.what;
    pacing.Written(row.repliedNs, row.repliedNs + row.writeLateNs);
  }
}

TEST(LinePacingTest, RepliesQueueBehindEachOtherAndEarlyWritesCountAsOnTime) {
  LinePacing pacing(10);
  EXPECT_EQ(pacing.Transmitted(100, 5), 150);
  EXPECT_EQ(pacing.Transmitted(120, 5), 200) << "starts when the first has left";
  pacing.Written(200, 190);  // a write cannot be early; treated as on time
  EXPECT_EQ(pacing.Received(300, 1), 310);
}

// An adapter whose 16 ns timer started at 0: it runs out at 16, 32, ... and
// restarts at every packet. Each row: bytes arriving at a time, and when
// what waits leaves next.
TEST(AdapterLatencyTest, RepliesWaitForTheTimersNextRunOutOrAFullPacket) {
  AdapterLatency adapter(16, 0);
  EXPECT_EQ(adapter.Arrive(5, 5), 16) << "a reply waits for the next run-out";
  EXPECT_EQ(adapter.Arrive(9, 5), 16) << "and one that comes meanwhile goes with it";
  std::optional<int64_t> next;
  EXPECT_EQ(adapter.Release(15, next), 0u) << "not due";
  EXPECT_EQ(next, 16);
  EXPECT_EQ(adapter.Release(16, next), 10u);
  EXPECT_EQ(next, std::nullopt);
  EXPECT_EQ(adapter.Release(16, next), 0u) << "a second look at the same time finds nothing";

  // Idle, the timer keeps running out every 16 from its last restart.
  EXPECT_EQ(adapter.Arrive(50, 5), 64);
  EXPECT_EQ(adapter.Release(64, next), 5u);
  EXPECT_EQ(adapter.Arrive(80, 5), 80) << "on a run-out: leaves with it";
  EXPECT_EQ(adapter.Release(80, next), 5u);

  // 62 waiting bytes fill a packet: it leaves at once and restarts the timer;
  // what is left waits a whole period from then.
  EXPECT_EQ(adapter.Arrive(85, 60), 96);
  EXPECT_EQ(adapter.Arrive(90, 70), 90);
  EXPECT_EQ(adapter.Release(96, next), 0u) << "the run-out it was waiting for is stale";
  EXPECT_EQ(adapter.Release(90, next), 62u);
  EXPECT_EQ(next, 90) << "another full packet waits";
  EXPECT_EQ(adapter.Release(90, next), 62u);
  EXPECT_EQ(next, 106);
  EXPECT_EQ(adapter.Release(106, next), 6u);
  EXPECT_EQ(next, std::nullopt);
}

TEST(OptionsTest, ReadsEveryOption) {
  Options options;
  std::string message;
  ASSERT_EQ(Parse({"--link", "/tmp/l", "--out", "/tmp/d/", "--count", "3", "--line-rate", "57600",
                   "--adapter-latency", "16", "--fault", "noreply@0", "--fault", "delay:1500@1!",
                   "--json"},
                  options, message),
            ParseResult::Run)
      << message;
  EXPECT_EQ(options.link, "/tmp/l");
  EXPECT_EQ(options.out, "/tmp/d/");
  EXPECT_EQ(options.count, 3u);
  EXPECT_EQ(options.lineRate, 57600u);
  EXPECT_EQ(options.adapterLatencyMs, 16u);
  EXPECT_TRUE(options.json);
  ASSERT_EQ(options.faults.size(), 2u);
  EXPECT_EQ(FormatModuleFault(options.faults[0]), "noreply@0");
  EXPECT_EQ(FormatModuleFault(options.faults[1]), "delay:1500@1!");
  EXPECT_EQ(options.modules, 0u);
  EXPECT_EQ(options.gapMs, 1000u);
}

TEST(OptionsTest, ReadsTheFixtureAndFaultsForOneModule) {
  Options options;
  std::string message;
  ASSERT_EQ(Parse({"--fault", "wrong@1#3", "--modules", "3", "--gap", "0", "--fault", "noreply@0"},
                  options, message),
            ParseResult::Run)
      << message;
  EXPECT_EQ(options.modules, 3u);
  EXPECT_EQ(options.gapMs, 0u);
  ASSERT_EQ(options.faults.size(), 2u);
  EXPECT_EQ(options.faults[0].module, 3u);
  EXPECT_EQ(options.faults[1].module, 0u);
}

TEST(OptionsTest, RefusesAFixtureThatDoesNotAddUp) {
  const struct {
    std::vector<const char*> args;
    const char* message;
  } kCases[] = {
      {{"--fault", "wrong@1#2"}, "--fault: bad fault 'wrong@1#2': #M needs --modules"},
      {{"--modules", "3", "--fault", "wrong@1#4"},
       "--fault: bad fault 'wrong@1#4': module 4 is beyond --modules 3"},
      {{"--modules", "3", "--fault", "wrong@1#0"},
       "--fault: bad fault 'wrong@1#0': #M must be a module number from 1 to 1000000"},
      {{"--gap", "10"}, "--gap requires --modules"},
      {{"--modules", "0"}, "--modules: Value 0 not in range 1 to 1000000"},
      {{"--modules", "1000001"}, "--modules: Value 1000001 not in range 1 to 1000000"},
      {{"--modules", "2", "--gap", "3600001"}, "--gap: Value 3600001 not in range 0 to 3600000"},
  };
  for (const auto& c : kCases) {
    Options options;
    std::string message;
    EXPECT_EQ(Parse(c.args, options, message), ParseResult::Error) << c.message;
    EXPECT_EQ(message, std::string("vexel-module-sim: ") + c.message +
                           "\nRun with --help for more information.\n");
  }
}

TEST(OptionsTest, RefusesBadValues) {
  for (std::vector<const char*> args :
       std::vector<std::vector<const char*>>{{"--fault", "noreply"},
                                             {"--fault", "split@1", "split@2"},
                                             {"--line-rate", "10"},
                                             {"--adapter-latency", "0"},
                                             {"--adapter-latency", "256"},
                                             {"--count", "-1"},
                                             {"--bogus"},
                                             {"extra"}}) {
    Options options;
    std::string message;
    EXPECT_EQ(Parse(args, options, message), ParseResult::Error) << args[0];
    EXPECT_EQ(message.rfind("vexel-module-sim: ", 0), 0u) << message;
  }
}

}  // namespace
}  // namespace vexel::sim

// vexel-module-sim as a child process, driven by a raw client on its pty:
// replies byte for byte, each fault, the checks, --count/--out, pacing, and
// the program's own report (JSON events, text lines, exit status).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "protocol/sha256.h"
#include "support/child_process.h"
#include "support/pty.h"
#include "support/sim_program.h"
#include "test_frames.h"

namespace vexel::sim::test {
namespace {

using nlohmann::json;
using vexel::test::ChildProcess;
using vexel::test::PtyPair;
using vexel::test::SimProgram;
using vexel::test::TtyClient;

std::string TempPath(const std::string& name) {
  return "/tmp/vexel-sim-test-" + std::to_string(::getpid()) + "-" + name;
}

std::string Hex(const Bytes& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (uint8_t b : bytes) text += {kDigits[b >> 4], kDigits[b & 0xF]};
  return text;
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// Starts the program and opens its line; the first line of output is the path.
void StartSim(SimProgram& sim, TtyClient& client, const std::vector<std::string>& args,
              std::string& path) {
  ASSERT_TRUE(sim.Start(args));
  ASSERT_TRUE(sim.ReadLine(path)) << sim.Stderr();
  ASSERT_TRUE(client.Open(path)) << path;
}

// Up to @p count bytes from the line, as they came by the deadline.
Bytes Received(TtyClient& client, size_t count,
               std::chrono::milliseconds deadline = TtyClient::kDeadline) {
  const std::string got = client.Receive(count, deadline);
  return Bytes(got.begin(), got.end());
}

// One request and exactly the bytes expected back (none: nothing is read).
void Exchange(TtyClient& client, const Bytes& request, const Bytes& reply) {
  ASSERT_TRUE(client.Send(request));
  if (reply.empty()) return;
  EXPECT_EQ(Hex(Received(client, reply.size())), Hex(reply));
}

std::vector<json> EventsOf(const std::vector<json>& events, const std::string& kind) {
  std::vector<json> out;
  for (const json& e : events) {
    if (e["event"] == kind) out.push_back(e);
  }
  return out;
}

TEST(SimProgramTest, ServesARawLineRunAfterRunAndEndsCleanly) {
  const std::string link = TempPath("link");
  SimProgram sim;
  TtyClient client;
  std::string path;
  StartSim(sim, client, {"--json", "--link", link}, path);
  EXPECT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
  char target[256] = {};
  ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(std::string(target), path);
  termios tio{};
  ASSERT_EQ(::tcgetattr(client.Fd(), &tio), 0);
  EXPECT_EQ(tio.c_lflag & (ECHO | ICANON | ISIG), 0u);
  EXPECT_EQ(tio.c_oflag & OPOST, 0u);

  const std::vector<Bytes> images{Pattern(200), Pattern(5)};
  Exchange(client, kConnect, kConnectReply);
  for (const Bytes& image : images) {
    Exchange(client, kInit, kAck);
    for (const Bytes& chunk : ChunksOf(image)) Exchange(client, chunk, kAck);
    Exchange(client, kFlash, kAck);
  }
  EXPECT_EQ(sim.Stop(SIGTERM), 0) << sim.Stderr();
  EXPECT_FALSE(Exists(link));

  const std::vector<json> events = sim.Events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front(),
            json({{"event", "ready"}, {"path", path}, {"faults", json::array()}, {"link", link}}));
  const std::vector<json> flashed = EventsOf(events, "image");
  ASSERT_EQ(flashed.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(flashed[i]["index"], i + 1);
    EXPECT_EQ(flashed[i]["length"], images[i].size());
    EXPECT_EQ(flashed[i]["sha256"], Sha256Hex(images[i].data(), images[i].size()));
    EXPECT_FALSE(flashed[i].contains("file"));
  }
  const std::vector<json> requests = EventsOf(events, "request");
  ASSERT_EQ(requests.size(), 10u);  // CONNECT; INIT, 4 chunks, FLASH; INIT, 1 chunk, FLASH
  EXPECT_EQ(requests[5]["name"], "SENDLAST");
  EXPECT_EQ(requests[5]["step"], 5);
  EXPECT_EQ(requests[5]["frame"], Hex(ChunksOf(images[0]).back()));
  EXPECT_EQ(EventsOf(events, "reply").size(), 10u);
  json end = events.back();
  end.erase("t_ms");
  EXPECT_EQ(end, json({{"event", "end"},
                       {"reason", "signal"},
                       {"images", 2},
                       {"violations", 0},
                       {"exit_status", 0}}));
}

struct Step {
  Bytes request;
  Bytes reply;  // empty: no reply; the next exchange shows that none came
};

struct FaultCase {
  const char* name;
  std::vector<std::string> faults;
  std::vector<Step> script;
  size_t replyWrites;  // reply events: one per write on the line
};

Bytes Oversized() {
  Bytes frame{0xB0, 0xEF, 0xAA, 0xFD};  // ACK command, 253 payload bytes
  for (size_t i = 0; i < 253; ++i) frame.push_back(static_cast<uint8_t>(i % 0x80));
  return frame;
}

// Each fault through the program, on the requests of a 100-byte image:
// CONNECT 0, INIT 1, SEND 2, SENDLAST 3, FLASH 4.
TEST(SimProgramTest, MisbehavesAsEachFaultSays) {
  const Bytes image = Pattern(100);
  const std::vector<Bytes> chunks = ChunksOf(image);
  const FaultCase kCases[] = {
      {"no connect reply", {"noreply@0"}, {{kConnect, {}}, {kConnect, kConnectReply}}, 1},
      {"silence at a chunk",
       {"silence@2"},
       {{kConnect, kConnectReply}, {kInit, kAck}, {chunks[0], {}}, {kConnect, kConnectReply}},
       3},
      {"wrong ACK once",
       {"wrong@1"},
       {{kConnect, kConnectReply}, {kInit, kWrongAck}, {kConnect, kConnectReply}, {kInit, kAck}},
       4},
      {"wrong connect reply every run",
       {"wrong@0!"},
       {{kConnect, kWrongConnectReply}, {kConnect, kWrongConnectReply}},
       2},
      {"noise before the ACK",
       {"noise:4@1"},
       {{kConnect, kConnectReply}, {kInit, Cat({{0x00, 0xFF, 0x55, 0x00}, kAck})}},
       2},
      {"split ACK",
       {"split@2"},
       {{kConnect, kConnectReply}, {kInit, kAck}, {chunks[0], kAck}, {chunks[1], kAck}},
       8},
      {"noise and split",
       {"noise:2@1", "split@1"},
       {{kConnect, kConnectReply}, {kInit, Cat({{0x00, 0xFF}, kAck})}},
       8},
      {"oversized frame",
       {"oversize@3"},
       {{kConnect, kConnectReply},
        {kInit, kAck},
        {chunks[0], kAck},
        {chunks[1], Cat({Oversized(), kAck})},
        {kFlash, kAck}},
       6},
  };
  for (const FaultCase& c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args{"--json"};
    for (const std::string& f : c.faults) args.insert(args.end(), {"--fault", f});
    SimProgram sim;
    TtyClient client;
    std::string path;
    StartSim(sim, client, args, path);
    Bytes expected;
    for (const Step& step : c.script) {
      Exchange(client, step.request, step.reply);
      expected.insert(expected.end(), step.reply.begin(), step.reply.end());
    }
    EXPECT_EQ(sim.Stop(SIGTERM), 0) << sim.Stderr();
    const std::vector<json> replies = EventsOf(sim.Events(), "reply");
    EXPECT_EQ(replies.size(), c.replyWrites);
    std::string written;
    for (const json& r : replies) written += r["bytes"].get<std::string>();
    EXPECT_EQ(written, Hex(expected));
    EXPECT_EQ(sim.Events()[0]["faults"].size(), c.faults.size());
  }
}

TEST(SimProgramTest, DelaysTheConnectReply) {
  SimProgram sim;
  TtyClient client;
  std::string path;
  StartSim(sim, client, {"--json", "--fault", "delay:300@0"}, path);
  const auto start = std::chrono::steady_clock::now();
  Exchange(client, kConnect, kConnectReply);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
  EXPECT_EQ(sim.Stop(SIGTERM), 0);
  const std::vector<json> events = sim.Events();
  const json request = EventsOf(events, "request").at(0);
  const json reply = EventsOf(events, "reply").at(0);
  EXPECT_GE(reply["t_ms"].get<double>() - request["t_ms"].get<double>(), 300.0);
}

// Like a serial port, the line keeps nothing for a loader that is not there:
// a reply written while no loader has it open, and one left unread at close,
// are gone when the next loader opens it.
TEST(SimProgramTest, KeepsNoRepliesBetweenLoaders) {
  SimProgram sim;
  TtyClient client;
  std::string path;
  StartSim(sim, client, {"--json", "--fault", "delay:100@0", "--fault", "wrong@0"}, path);
  ASSERT_TRUE(client.Send(kConnect));
  client.Close();
  json reply;
  ASSERT_TRUE(sim.WaitEvent("reply", reply));
  EXPECT_EQ(reply, json({{"event", "reply"},
                         {"t_ms", reply["t_ms"]},
                         {"bytes", Hex(kWrongConnectReply)},
                         {"dropped", true}}));
  ASSERT_TRUE(client.Open(path));
  ASSERT_TRUE(client.Send(kConnect));
  ASSERT_TRUE(sim.WaitEvent("reply", reply));
  EXPECT_EQ(reply["bytes"], Hex(kConnectReply));
  EXPECT_FALSE(reply.contains("dropped"));
  client.Close();  // left unread
  json line;
  do {
    ASSERT_TRUE(sim.WaitEvent("line", line));
  } while (line["state"] != "closed");
  ASSERT_TRUE(client.Open(path));
  Exchange(client, kInit, kAck);  // not a connect reply from before
  EXPECT_EQ(sim.Stop(SIGTERM), 0);
}

TEST(SimProgramTest, HangUpClosesTheLineAndEndsWithItsStatus) {
  const std::string link = TempPath("hangup-link");
  SimProgram sim;
  TtyClient client;
  std::string path;
  StartSim(sim, client, {"--json", "--link", link, "--fault", "hangup@4"}, path);
  Exchange(client, kConnect, kConnectReply);
  Exchange(client, kInit, kAck);
  Exchange(client, Chunk(Pattern(64)), kAck);
  Exchange(client, Chunk(Pattern(1)), kAck);
  ASSERT_TRUE(client.Send(kFlash));
  EXPECT_TRUE(client.WaitHangUp());
  EXPECT_EQ(sim.Finish(), 3) << sim.Stderr();
  EXPECT_FALSE(Exists(link));
  const std::vector<json> events = sim.Events();
  ASSERT_EQ(EventsOf(events, "hangup").size(), 1u);
  EXPECT_EQ(EventsOf(events, "hangup")[0]["step"], 4);
  EXPECT_EQ(events.back()["reason"], "hangup");
  EXPECT_EQ(events.back()["exit_status"], 3);
  // The image was flashed before the line went away.
  EXPECT_EQ(EventsOf(events, "image").size(), 1u);
}

// The text report, line for line, of a loader that breaks the rules.
TEST(SimProgramTest, ReportsViolationsAndFailsTheExitStatus) {
  SimProgram sim;
  TtyClient client;
  std::string path;
  StartSim(sim, client, {}, path);
  Exchange(client, kConnect, kConnectReply);
  Exchange(client, Chunk({1, 2, 3}), kAck);
  Exchange(client, kInit, kAck);
  Exchange(client, Chunk(Pattern(65)), kAck);
  Exchange(client, Cat({{0x41, 0x42}, kConnect}), kConnectReply);
  Exchange(client, {0xB0, 0xEF, 0x77, 0x01, 0x00}, {});
  Exchange(client, kConnect, kConnectReply);
  EXPECT_EQ(sim.Stop(SIGINT), 1);
  const std::vector<std::string> expected{
      path,
      "module ready on " + path,
      "line opened by a loader",
      "request CONNECT step 0: b0 ef 01 00",
      "reply b0 ef 00 01 00",
      "request SENDLAST step 1: b0 ef 66 03 01 02 03",
      "violation: chunk of 3 bytes before INIT",
      "reply b0 ef aa 01 00",
      "request INIT step 1: b0 ef 55 02 aa 04",
      "reply b0 ef aa 01 00",
      "request SEND step 2: b0 ef 66 41 b0 ef be c5 cc d3 da e1 e8 ef f6 fd ... (69 bytes)",
      "violation: chunk of 65 bytes (limit 64)",
      "reply b0 ef aa 01 00",
      "violation: noise between requests, starting with byte 0x41",
      "request CONNECT step 0: b0 ef 01 00",
      "reply b0 ef 00 01 00",
      "request UNKNOWN: b0 ef 77 01 00",
      "violation: unknown request: command 0x77 with 1 payload bytes",
      "request CONNECT step 0: b0 ef 01 00",
      "reply b0 ef 00 01 00",
      "end (signal): 0 image(s) flashed, 4 violation(s), exit status 1",
  };
  EXPECT_EQ(sim.Lines(), expected);
}

TEST(SimProgramTest, CountEndsTheProgramAndOutKeepsTheImages) {
  const std::string dir = TempPath("images") + "/";
  const std::string file = TempPath("image.mbf");
  const struct {
    std::string out;
    std::vector<std::string> files;  // expected after two runs
  } kCases[] = {
      {dir, {dir + "image-0001.mbf", dir + "image-0002.mbf"}},
      {file, {file, file}},  // the latest overwrites
  };
  const std::vector<Bytes> images{Pattern(130), Pattern(64)};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.out);
    SimProgram sim;
    TtyClient client;
    std::string path;
    StartSim(sim, client, {"--json", "--count", "2", "--out", c.out}, path);
    Exchange(client, kConnect, kConnectReply);
    for (const Bytes& image : images) {
      Exchange(client, kInit, kAck);
      for (const Bytes& chunk : ChunksOf(image)) Exchange(client, chunk, kAck);
      Exchange(client, kFlash, kAck);  // the last ACK still arrives
    }
    EXPECT_TRUE(client.WaitHangUp());
    EXPECT_EQ(sim.Finish(), 0) << sim.Stderr();
    const std::vector<json> flashed = EventsOf(sim.Events(), "image");
    ASSERT_EQ(flashed.size(), 2u);
    for (size_t i = 0; i < 2; ++i) EXPECT_EQ(flashed[i]["file"], c.files[i]);
    EXPECT_EQ(ReadFile(c.files[1]), images[1]);
    EXPECT_EQ(ReadFile(c.files[0]), c.files[0] == c.files[1] ? images[1] : images[0]);
    EXPECT_EQ(sim.Events().back()["reason"], "count");
    for (const std::string& f : c.files) ::unlink(f.c_str());
  }
  ::rmdir(dir.c_str());
}

// Pacing can only make the line slower than the pty: check the lower bound.
TEST(SimProgramTest, LineRatePacesRequestsAndReplies) {
  SimProgram sim;
  TtyClient client;
  std::string path;
  StartSim(sim, client, {"--json", "--line-rate", "4800"}, path);
  Exchange(client, kConnect, kConnectReply);
  Exchange(client, kInit, kAck);
  const auto start = std::chrono::steady_clock::now();
  Exchange(client, Chunk(Pattern(64)), kAck);
  // 68 + 5 bytes of 12 bits at 4800 baud: 182.5 ms.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(182500));
  EXPECT_EQ(sim.Stop(SIGTERM), 0);
  const std::vector<json> requests = EventsOf(sim.Events(), "request");
  const std::vector<json> replies = EventsOf(sim.Events(), "reply");
  ASSERT_EQ(replies.size(), 3u);
  // The reply's own 5 bytes (12.5 ms) count from when the request was due,
  // which is also the request event's stamp, however late the loop woke up.
  EXPECT_GE(replies[2]["t_ms"].get<double>() - requests[2]["t_ms"].get<double>(), 12.5);
}

// An existing device: here the slave of a pty the test makes, the test
// playing the loader on its master.
TEST(SimProgramTest, ServesAnExistingDevice) {
  PtyPair terminal;
  ASSERT_TRUE(terminal.IsOpen());
  const std::string& device = terminal.SlavePath();
  SimProgram sim;
  ASSERT_TRUE(sim.Start({"--device", device}));
  std::string first;
  ASSERT_TRUE(sim.ReadLine(first));
  EXPECT_EQ(first, device);
  ASSERT_TRUE(sim.ReadLine(first));  // "module ready on ...": the device is set up
  ASSERT_TRUE(terminal.Send(kConnect));
  const std::string reply = terminal.Receive(kConnectReply.size());
  EXPECT_EQ(Bytes(reply.begin(), reply.end()), kConnectReply);
  EXPECT_EQ(sim.Stop(SIGTERM), 0);
}

// ---- A fixture of modules put on one after another -----------------------

// What module events say, without their times.
std::vector<std::string> ModuleChanges(const std::vector<json>& events) {
  std::vector<std::string> changes;
  for (const json& e : EventsOf(events, "module")) {
    std::string text = e["state"].get<std::string>() + " " +
                       std::to_string(e["index"].get<size_t>());
    if (e.contains("reason")) text += " " + e["reason"].get<std::string>();
    changes.push_back(text);
  }
  return changes;
}

// Waits for the module event that puts module @p index on the fixture.
void WaitAttached(SimProgram& sim, size_t index) {
  json event;
  do {
    ASSERT_TRUE(sim.WaitEvent("module", event)) << "module " << index << " never came";
  } while (event["state"] != "attached" || event["index"] != index);
}

// The first module leaves with its image; a probe in the gap finds nobody;
// the second answers, gets its own fault, and leaves when probed again.
TEST(SimProgramTest, PlaysModulesOneAfterAnother) {
  SimProgram sim;
  TtyClient client;
  std::string path;
  StartSim(sim, client, {"--json", "--modules", "2", "--gap", "200", "--fault", "wrong@1#2"}, path);
  Exchange(client, kConnect, kConnectReply);
  Exchange(client, kInit, kAck);
  for (const Bytes& chunk : ChunksOf(Pattern(70))) Exchange(client, chunk, kAck);
  Exchange(client, kFlash, kAck);
  ASSERT_TRUE(client.Send(kConnect));  // in the gap
  WaitAttached(sim, 2);
  int waiting = -1;
  ASSERT_EQ(::ioctl(client.Fd(), FIONREAD, &waiting), 0);
  EXPECT_EQ(waiting, 0) << "the probe in the gap was answered";
  Exchange(client, kConnect, kConnectReply);
  Exchange(client, kInit, kWrongAck);
  Exchange(client, kConnect, {});  // the loader is done with it
  json removed;
  ASSERT_TRUE(sim.WaitEvent("module", removed));
  EXPECT_EQ(sim.Stop(SIGTERM), 0) << sim.Stderr();

  const std::vector<json> events = sim.Events();
  EXPECT_EQ(events.front()["modules"], 2);
  EXPECT_EQ(events.front()["gap_ms"], 200);
  EXPECT_EQ(events.front()["faults"], json({"wrong@1#2"}));
  EXPECT_EQ(ModuleChanges(events), (std::vector<std::string>{"attached 1", "removed 1 flashed",
                                                             "attached 2", "removed 2 reprobed"}));
  const std::vector<json> modules = EventsOf(events, "module");
  const double gap = modules[2]["t_ms"].get<double>() - modules[1]["t_ms"].get<double>();
  EXPECT_GT(gap, 199.0);  // due on the millisecond
  EXPECT_LE(gap, 200.0);
  const std::vector<json> images = EventsOf(events, "image");
  ASSERT_EQ(images.size(), 1u);
  EXPECT_EQ(images[0]["module"], 1);
  EXPECT_EQ(images[0]["index"], 1);
  // Only the CONNECTs a module heard are requests: not the one in the gap,
  // nor the one that found the fixture empty.
  size_t connects = 0;
  for (const json& r : EventsOf(events, "request")) connects += r["name"] == "CONNECT";
  EXPECT_EQ(connects, 2u);
  EXPECT_EQ(events.back()["violations"], 0);
}

// The count is reached: a module still to come an hour later keeps nobody.
TEST(SimProgramTest, CountEndsTheFixtureWithoutWaitingForTheNextModule) {
  SimProgram sim;
  TtyClient client;
  std::string path;
  StartSim(sim, client, {"--json", "--modules", "2", "--gap", "3600000", "--count", "1"}, path);
  Exchange(client, kConnect, kConnectReply);
  Exchange(client, kInit, kAck);
  Exchange(client, Chunk(Pattern(9)), kAck);
  Exchange(client, kFlash, kAck);
  EXPECT_TRUE(client.WaitHangUp());
  EXPECT_EQ(sim.Finish(), 0) << sim.Stderr();
  EXPECT_EQ(ModuleChanges(sim.Events()),
            (std::vector<std::string>{"attached 1", "removed 1 flashed"}));
  EXPECT_EQ(sim.Events().back()["reason"], "count");
}

// ---- The line's users, and the report's reader ---------------------------

// A loader killed while it holds the line cannot clear its exclusive flag;
// the simulator does, once nobody has the line, or every later loader run
// by a normal user would find the line busy.
TEST(SimProgramTest, ClearsTheExclusiveFlagOfALoaderKilledOnTheLine) {
  SimProgram sim;
  TtyClient client;
  std::string path;
  StartSim(sim, client, {"--json"}, path);
  client.Close();
  ChildProcess::Options holder;
  holder.body = [&path] {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    const bool held = fd >= 0 && ::ioctl(fd, TIOCEXCL) == 0 && ::write(fd, kConnect.data(), 4) == 4;
    if (::write(STDOUT_FILENO, held ? "y\n" : "n\n", 2) != 2) return 1;
    ::pause();
    return 0;
  };
  ChildProcess loader(holder);
  ASSERT_EQ(loader.FirstLine(), "y");
  json line;
  ASSERT_TRUE(sim.WaitEvent("line", line));  // its CONNECT is in
  EXPECT_EQ(line["state"], "open");
  loader.Signal(SIGKILL);
  loader.WaitExit();
  ASSERT_TRUE(sim.WaitEvent("line", line));
  EXPECT_EQ(line["state"], "closed");

  // Root ignores the flag on open, so the flag itself is checked as well.
  ASSERT_TRUE(client.Open(path)) << std::strerror(errno);
  int exclusive = -1;
  ASSERT_EQ(::ioctl(client.Fd(), TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0);
  Exchange(client, kConnect, kConnectReply);
  EXPECT_EQ(sim.Stop(SIGTERM), 0);
}

// One loader may hold the line through two descriptors opened back to back;
// closing one of them leaves the line with the loader.
TEST(SimProgramTest, ALoaderWithTwoDescriptorsKeepsTheLineWhenOneCloses) {
  SimProgram sim;
  TtyClient first;
  std::string path;
  StartSim(sim, first, {"--json"}, path);
  TtyClient second;
  ASSERT_TRUE(second.Open(path));
  first.Close();
  json line;
  ASSERT_TRUE(second.Send(kConnect));
  json reply;
  ASSERT_TRUE(sim.WaitEvent("reply", reply));
  EXPECT_FALSE(reply.contains("dropped")) << reply;
  EXPECT_EQ(Hex(Received(second, kConnectReply.size(), std::chrono::milliseconds(2000))),
            Hex(kConnectReply));
  second.Close();
  ASSERT_TRUE(sim.WaitEvent("line", line));
  EXPECT_EQ(line["state"], "closed");
  EXPECT_EQ(sim.Stop(SIGTERM), 0);
}

// Paths are bytes, JSON text is UTF-8: a byte that is not UTF-8 is reported
// as U+FFFD, and the program still ends cleanly and removes its link.
TEST(SimProgramTest, ReportsPathsThatAreNotUtf8) {
  const std::string link = TempPath("link-\xff");
  const std::string out = TempPath("image-\xff.mbf");
  const std::string shown = "-\xef\xbf\xbd";  // U+FFFD in place of 0xFF
  SimProgram sim;
  TtyClient client;
  std::string path;
  StartSim(sim, client, {"--json", "--link", link, "--out", out}, path);
  EXPECT_TRUE(Exists(link));
  Exchange(client, kConnect, kConnectReply);
  Exchange(client, kInit, kAck);
  Exchange(client, Chunk(Pattern(3)), kAck);
  Exchange(client, kFlash, kAck);
  EXPECT_EQ(sim.Stop(SIGTERM), 0) << sim.Stderr();
  EXPECT_FALSE(Exists(link));
  EXPECT_EQ(ReadFile(out), Pattern(3));
  ::unlink(out.c_str());
  const std::vector<json> events = sim.Events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front()["link"], TempPath("link" + shown));
  ASSERT_EQ(EventsOf(events, "image").size(), 1u);
  EXPECT_EQ(EventsOf(events, "image")[0]["file"], TempPath("image" + shown + ".mbf"));
  EXPECT_EQ(events.back()["reason"], "signal");
}

// A script that reads only the first line (the path) and never the events:
// the module still answers at once, and the report says how much it dropped.
TEST(SimProgramTest, KeepsAnsweringWhenNobodyReadsItsReport) {
  SimProgram sim;
  ChildProcess::Options firstLineOnly;
  firstLineOnly.readFirstLineOnly = true;
  ASSERT_TRUE(sim.Start({"--json"}, firstLineOnly));
  TtyClient client;
  ASSERT_TRUE(client.Open(sim.Path())) << sim.Stderr();
  Exchange(client, kConnect, kConnectReply);
  Exchange(client, kInit, kAck);
  constexpr size_t kChunks = 2000;  // some 600 KB of events, far beyond a pipe
  const Bytes chunk = Chunk(Pattern(64));
  for (size_t i = 0; i < kChunks; ++i) {
    ASSERT_TRUE(client.Send(chunk));
    ASSERT_EQ(Received(client, kAck.size(), std::chrono::milliseconds(5000)), kAck)
        << "no ACK for chunk " << i;
  }
  EXPECT_EQ(sim.Stop(SIGTERM), 0);
  const std::vector<json> events = sim.Events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front()["event"], "ready");
  const std::vector<json> dropped = EventsOf(events, "dropped");
  ASSERT_FALSE(dropped.empty());
  size_t total = 0;
  for (const json& d : dropped) total += d["count"].get<size_t>();
  // Every event is either reported or counted as dropped.
  EXPECT_EQ(EventsOf(events, "request").size() + EventsOf(events, "reply").size() + total,
            2 * (kChunks + 2));
  EXPECT_EQ(events.back()["event"], "end");
}

TEST(SimProgramTest, RefusesBadUseWithStatusTwo) {
  const std::string plain = TempPath("plain-file");
  std::ofstream(plain) << "keep me";
  const struct {
    std::vector<std::string> args;
    std::string error;
  } kCases[] = {
      {{"--fault", "bogus@1"},
       "vexel-module-sim: --fault: bad fault 'bogus@1': unknown kind\n"
       "Run with --help for more information.\n"},
      {{"--count", "0"},
       "vexel-module-sim: --count: Value 0 not in range 1 to 1000000\n"
       "Run with --help for more information.\n"},
      {{"--device", "/nonexistent/tty"},
       "vexel-module-sim: /nonexistent/tty: No such file or directory\n"},
      {{"--link", plain}, "vexel-module-sim: " + plain + ": exists and is not a symbolic link\n"},
      {{"--out", "/nonexistent/dir/image.mbf"},
       "vexel-module-sim: /nonexistent/dir/: no such directory\n"},
  };
  for (const auto& c : kCases) {
    SimProgram sim;
    ASSERT_TRUE(sim.Start(c.args));
    EXPECT_EQ(sim.Finish(), 2) << c.error;
    EXPECT_EQ(sim.Stderr(), c.error);
    EXPECT_TRUE(sim.Lines().empty()) << c.error;
  }
  EXPECT_EQ(ReadFile(plain), Bytes({'k', 'e', 'e', 'p', ' ', 'm', 'e'}));
  ::unlink(plain.c_str());
}

TEST(SimProgramTest, HelpDocumentsEveryOptionAndFault) {
  SimProgram sim;
  ASSERT_TRUE(sim.Start({"--help"}));
  EXPECT_EQ(sim.Finish(), 0);
  std::string help;
  for (const std::string& line : sim.Lines()) help += line + "\n";
  for (const char* word : {"--link",      "--device",
                           "--out",       "--count",
                           "--line-rate", "--fault",
                           "--json",      "--modules",
                           "--gap",       "#M",
                           "MODULES",     "reprobed",
                           "noreply",     "silence",
                           "delay:MS",    "wrong",
                           "noise[:N]",   "split",
                           "oversize",    "hangup",
                           "EXIT STATUS", "VEXEL_COM1=/tmp/vexel-com1"}) {
    EXPECT_NE(help.find(word), std::string::npos) << word;
  }
}

}  // namespace
}  // namespace vexel::sim::test

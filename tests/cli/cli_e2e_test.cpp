// The duvozeviv-cli program against vexel-module-sim programs on
// pseudo-terminals: real processes, real serial lines, exact texts.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/exit_codes.h"
#include "e2e_support.h"
#include "protocol/sha256.h"
#include "runner/frame_trace.h"
#include "session/load_session.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "text_fields.h"

namespace vexel::cli {
namespace {

using test::ChildProcess;
using test::Cli;
using test::Contains;
using test::Count;
using test::Fields;
using test::IsNumber;
using test::Lines;
using test::Pipe;
using test::ProcessHasOpen;
using test::ReadToEnd;
using test::SimModule;
using vexel::test::TempDir;
using namespace std::chrono_literals;

constexpr const char* kFlashFrame = "b0ef5509550203040506070801";

// "PORT  MODULE LOADED  BYTES  SECONDS  BYTES/S  SHARE%" of the summary; a
// pseudo-terminal beats the line's ceiling, which shows as "unpaced".
bool IsLoadedRow(const std::string& row, const std::string& port, const std::string& bytes) {
  const auto f = Fields(row);
  return f.size() == 7 && f[0] == port && f[1] == "MODULE" && f[2] == "LOADED" && f[3] == bytes &&
         IsNumber(f[4], 2) && IsNumber(f[5]) &&
         (f[6] == "unpaced" ||
          (f[6].back() == '%' && IsNumber(f[6].substr(0, f[6].size() - 1), 1)));
}

// The output's lines without the note that follows a table with an unpaced
// row.
std::vector<std::string> WithoutUnpacedNote(std::vector<std::string> lines) {
  lines.erase(std::remove(lines.begin(), lines.end(),
                          "unpaced: faster than 57600 baud 8E2 allows: the line is not paced "
                          "like a UART"),
              lines.end());
  return lines;
}

class CliEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    // The images must be readable by the unprivileged runs as well.
    std::filesystem::permissions(m_dir.Path(), std::filesystem::perms(0755));
  }

  std::string WriteImage(size_t length, const std::string& name = "image.mbf") {
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>((i * 31 + 7) & 0xFF);
    m_image = bytes;
    const auto path = m_dir.Write(name, bytes);
    std::filesystem::permissions(path, std::filesystem::perms(0644));
    return path.string();
  }

  // The program run as nobody, from a copy beside the images: the build tree
  // may sit where nobody cannot go (a 0700 home, a mktemp -d folder). The
  // copy needs only system libraries. Empty, with the reason, when nobody
  // cannot start it there either (the temporary folder is closed to others).
  ChildProcess::Options CliAsNobody(std::vector<std::string> args, std::string& whyNot) {
    const auto copy = m_dir.Path() / "duvozeviv-cli";
    std::filesystem::copy_file(VEXEL_CLI_PATH, copy,
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(copy, std::filesystem::perms(0755));
    ChildProcess::Options options = Cli({"--version"});
    options.argv[0] = copy.string();
    options.asNobody = true;
    ChildProcess probe(options);
    const int code = probe.WaitExit();
    if (code == 127) {  // exec or the dynamic loader failed
      whyNot = "nobody cannot start " + copy.string() + ": " +
               (probe.Err().empty() ? "a folder above it is closed to other users (TMPDIR)"
                                    : probe.Err());
      return {};
    }
    EXPECT_EQ(code, 0) << probe.Err();
    args.insert(args.begin(), copy.string());
    options.argv = args;
    return options;
  }

  // A --json load of 128 KiB into @p out, which the test does not read yet;
  // null unless the module's events come to satisfy @p reached.
  std::unique_ptr<ChildProcess> LoadIntoUnreadPipe(
      SimModule& module, Pipe& out, const std::function<bool(const std::string&)>& reached) {
    auto options = Cli({"--json", "-p", module.Path(), WriteImage(128 * 1024)});
    options.stdoutFd = out.Write();
    auto cli = std::make_unique<ChildProcess>(options);
    out.CloseWrite();
    if (!module.Process().WaitForOut(reached, 60s)) return nullptr;
    return cli;
  }

  TempDir m_dir;
  std::string m_image;
};

TEST_F(CliEndToEnd, OneModuleIsLoaded) {
  SimModule module({"--count", "1", "--out", (m_dir.Path() / "received.mbf").string()});
  ASSERT_FALSE(module.Path().empty());
  const std::string image = WriteImage(1000);
  ChildProcess cli(Cli({"-p", module.Path(), image}));
  ASSERT_EQ(cli.WaitExit(), 0) << cli.Err();
  EXPECT_EQ(cli.Err(), "");

  const auto lines = WithoutUnpacedNote(Lines(cli.Out()));
  const std::string& port = module.Path();
  ASSERT_GE(lines.size(), 9u) << cli.Out();
  EXPECT_EQ(lines[0], port + ": connecting");
  EXPECT_EQ(lines[1], port + ": CONNECTED");
  EXPECT_EQ(lines[2], port + ": sending 1000 bytes");
  EXPECT_EQ(lines[3], port + ": PROGRAMMING");
  EXPECT_EQ(lines[lines.size() - 5], port + ": MODULE LOADED");
  EXPECT_EQ(lines[lines.size() - 4], "");
  EXPECT_EQ(lines[lines.size() - 3].rfind("PORT" + std::string(port.size() - 2, ' ') + "RESULT", 0),
            0u);
  EXPECT_TRUE(IsLoadedRow(lines[lines.size() - 2], port, "1000")) << lines[lines.size() - 2];
  EXPECT_EQ(lines.back(), "1 of 1 modules loaded; exit status 0");

  // The module flashed exactly the image, saw no protocol violation and
  // stopped after its one image.
  EXPECT_EQ(module.Process().WaitExit(), 0) << module.Process().Out();
  std::ifstream received(m_dir.Path() / "received.mbf", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(received), {}), m_image);
}

// A wrong --expect-sha256 sends nothing to any port, for a load and a
// station alike; the right one, in any case, loads as before.
TEST_F(CliEndToEnd, AnExpectedHashGuardsEveryPort) {
  SimModule a({"--count", "1"});
  SimModule b({"--count", "1"});
  ASSERT_FALSE(a.Path().empty());
  ASSERT_FALSE(b.Path().empty());
  const std::string image = WriteImage(1000);
  const std::string sha = Sha256Hex(reinterpret_cast<const uint8_t*>(m_image.data()),
                                    m_image.size());
  std::string wrong = sha;
  wrong[0] = wrong[0] == '0' ? '1' : '0';
  for (const bool station : {false, true}) {
    std::vector<std::string> args = {"--expect-sha256", wrong, "-p", a.Path(), "-p",
                                     b.Path(),          image};
    if (station) args.insert(args.begin(), "--station");
    ChildProcess cli(Cli(args));
    EXPECT_EQ(cli.WaitExit(), kExitImageFile);
    EXPECT_EQ(cli.Err(), "duvozeviv-cli: " + image + " is not the expected image: its SHA-256 is " +
                             sha + ", --expect-sha256 is " + wrong + "; nothing was sent\n");
  }
  std::string upper = sha;
  for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  ChildProcess cli(Cli({"-q", "--expect-sha256", upper, "-p", a.Path(), "-p", b.Path(), image}));
  ASSERT_EQ(cli.WaitExit(), 0) << cli.Err();
  for (SimModule* module : {&a, &b}) {
    EXPECT_EQ(module->Process().WaitExit(), 0);
    const auto requests = module->Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.front(), "b0ef0100");  // the good load's CONNECT came first
    EXPECT_EQ(std::count(requests.begin(), requests.end(), "b0ef0100"), 1);
  }
}

TEST_F(CliEndToEnd, ComOneIsTheDefaultPortAndResolvesThroughTheEnvironment) {
  SimModule module({"--count", "1"});
  auto options = Cli({"--quiet", WriteImage(10)});
  options.env.push_back("VEXEL_COM1=" + module.Path());
  ChildProcess cli(options);
  EXPECT_EQ(cli.WaitExit(), 0) << cli.Err();
  EXPECT_EQ(cli.Out(), "COM1: MODULE LOADED\n");
}

TEST_F(CliEndToEnd, FourModulesInParallelWithOneFailing) {
  SimModule a;
  SimModule b;
  SimModule c({"--fault", "noreply@3"});  // the second chunk is never acknowledged
  SimModule d;
  ChildProcess cli(
      Cli({"-p", a.Path(), "-p", b.Path(), "-p", c.Path(), "-p", d.Path(), WriteImage(3000)}));
  EXPECT_EQ(cli.WaitExit(), kExitNotResponding);
  EXPECT_EQ(cli.Err(), c.Path() + ": Module not responding\n");

  const auto lines = WithoutUnpacedNote(Lines(cli.Out()));
  ASSERT_GE(lines.size(), 7u);
  const std::vector<std::string> table(lines.end() - 6, lines.end());  // header, 4 rows, total
  EXPECT_TRUE(IsLoadedRow(table[1], a.Path(), "3000")) << table[1];
  EXPECT_TRUE(IsLoadedRow(table[2], b.Path(), "3000")) << table[2];
  EXPECT_TRUE(IsLoadedRow(table[4], d.Path(), "3000")) << table[4];
  const auto failed = Fields(table[3]);
  ASSERT_EQ(failed.size(), 8u) << table[3];
  EXPECT_EQ(failed[0], c.Path());
  EXPECT_EQ(failed[1] + " " + failed[2] + " " + failed[3], "Module not responding");
  EXPECT_EQ(failed[4], "64");  // the first chunk was acknowledged
  EXPECT_TRUE(IsNumber(failed[5], 2));
  EXPECT_EQ(failed[6] + failed[7], "--");
  EXPECT_EQ(table.back(), "3 of 4 modules loaded; exit status 6");
  // Each port is shown on its own.
  for (const auto* sim : {&a, &b, &d}) {
    EXPECT_TRUE(Contains(cli.Out(), sim->Path() + ": MODULE LOADED\n")) << sim->Path();
  }
}

// Every failure class with its text on stderr and its exit code.
TEST_F(CliEndToEnd, EachFailureClassHasItsTextAndExitCode) {
  const std::string image = WriteImage(200);
  const struct {
    std::vector<std::string> fault;
    int code;
    const char* text;
  } cases[] = {
      {{"--fault", "noreply@0"}, kExitNoConnectReply, "Unable to connect to module"},
      {{"--fault", "delay:1500@0"}, kExitNoConnectReply, "Unable to connect to module"},
      {{"--fault", "noreply@1"}, kExitNotResponding, "Module not responding"},
      {{"--fault", "wrong@1"}, kExitInvalidResponse, "Invalid response from module for INIT"},
      {{"--fault", "wrong@3"}, kExitInvalidResponse, "Invalid response from module for SEND"},
      {{"--fault", "wrong@5"}, kExitInvalidResponse, "Invalid response from module for SENDLAST"},
      {{"--fault", "wrong@6"}, kExitInvalidResponse, "Invalid response from module for FLASH"},
  };
  for (const auto& c : cases) {
    SimModule module(c.fault);
    ChildProcess cli(Cli({"--quiet", "-p", module.Path(), image}));
    EXPECT_EQ(cli.WaitExit(), c.code) << c.fault[1];
    EXPECT_EQ(cli.Err(), module.Path() + ": " + c.text + "\n") << c.fault[1];
    EXPECT_EQ(cli.Out(), "") << c.fault[1];
  }
}

// A port that goes away mid-load (an adapter pulled out hangs its tty up, as
// the simulator's end of a pty does when it is killed or hangs up): the port
// ends at once, not at a reply timer, with the loader's own text naming it
// and status 9, in the lines, the summary and the JSON events.
TEST_F(CliEndToEnd, APortThatGoesAwayEndsWithItsOwnTextAndStatusNine) {
  const std::string image = WriteImage(16 * 1024);
  const auto chunkSeen = [](const std::string& out) { return Contains(out, "\"step\":5,"); };
  for (const char* how : {"killed", "hangup", "json"}) {
    const bool killed = std::string(how) != "hangup";
    SimModule module(killed ? std::vector<std::string>{"--line-rate", "57600"}
                            : std::vector<std::string>{"--fault", "hangup@5"});
    const bool json = std::string(how) == "json";
    ChildProcess cli(json ? Cli({"--json", "-p", module.Path(), image})
                          : Cli({"-p", module.Path(), image}));
    ASSERT_TRUE(module.Process().WaitForOut(chunkSeen, 60s)) << how;
    if (killed) module.Process().Signal(SIGKILL);
    ASSERT_EQ(cli.WaitExit(), kExitLineLost) << how << cli.Err();
    const std::string text = "Connection lost: " + module.Path() +
                             " went away (adapter unplugged or driver stopped)";
    EXPECT_EQ(cli.Err(), module.Path() + ": " + text + "\n") << how;
    const auto lines = Lines(cli.Out());
    ASSERT_GE(lines.size(), 3u) << how;
    if (!json) {
      const auto row = Fields(lines[lines.size() - 2]);
      ASSERT_GE(row.size(), 3u) << lines[lines.size() - 2];
      EXPECT_EQ(row[0], module.Path());
      EXPECT_EQ(lines[lines.size() - 2].find(text), module.Path().size() + 2) << how;
      EXPECT_EQ(lines.back(), "0 of 1 modules loaded; exit status 9");
      continue;
    }
    const auto failed = nlohmann::json::parse(lines[lines.size() - 3]);
    EXPECT_EQ(failed["event"], "failed");
    EXPECT_EQ(failed["message"], text);
    const auto result = nlohmann::json::parse(lines[lines.size() - 2]);
    EXPECT_EQ(result["event"], "result");
    EXPECT_EQ(result["status"], text);
    EXPECT_EQ(result["exit_code"], kExitLineLost);
    EXPECT_EQ(nlohmann::json::parse(lines.back())["exit_code"], kExitLineLost);
  }
}

TEST_F(CliEndToEnd, MissingImageOrPortAndBadArguments) {
  SimModule module;
  const std::string missing = (m_dir.Path() / "missing.mbf").string();
  const std::string image = WriteImage(10);
  const struct {
    std::vector<std::string> args;
    int code;
    std::string err;
  } cases[] = {
      {{"-p", module.Path(), missing},
       kExitImageFile,
       "duvozeviv-cli: Unable to open file " + missing + ": No such file or directory\n"},
      {{"-p", module.Path(), m_dir.Path().string()},
       kExitImageFile,
       "duvozeviv-cli: Unable to open file " + m_dir.Path().string() + ": not a regular file\n"},
      {{"-p", "/dev/vexel-none", image},
       kExitPortOpen,
       "/dev/vexel-none: Cannot open open /dev/vexel-none: No such file or directory; "
       "--list-ports shows the serial ports\n"},
      {{"-p", module.Path()},
       kExitUsage,
       "IMAGE is required\nRun with --help for more information.\n"},
  };
  for (const auto& c : cases) {
    ChildProcess cli(Cli(c.args));
    EXPECT_EQ(cli.WaitExit(), c.code);
    EXPECT_EQ(cli.Err(), c.err);
  }
  // Two names of one device: a usage error before anything is opened.
  const std::string link = (m_dir.Path() / "vexel-com1").string();
  std::filesystem::create_symlink(module.Path(), link);
  ChildProcess twice(Cli({"-p", module.Path(), "-p", link, image}));
  EXPECT_EQ(twice.WaitExit(), kExitUsage);
  EXPECT_EQ(twice.Err(), "--port: " + module.Path() + " and " + link + " are the same device " +
                             module.Path() + "\nRun with --help for more information.\n");
  // The image is checked before any port is opened: the module saw nothing.
  EXPECT_TRUE(module.Requests().empty());
}

// Root bypasses file permissions, so the loader runs as nobody.
TEST_F(CliEndToEnd, PermissionDeniedNamesTheGroupToJoin) {
  const struct group* dialout = ::getgrnam("dialout");
  if (::geteuid() != 0 || dialout == nullptr) GTEST_SKIP() << "needs root and a dialout group";
  const std::string image = WriteImage(10);
  SimModule module;
  const std::string& port = module.Path();
  std::string whyNot;
  const auto options = CliAsNobody({"--quiet", "-p", port, image}, whyNot);
  if (options.argv.empty()) GTEST_SKIP() << whyNot;
  // Shaped like a USB adapter's node: root:dialout, rw for the group.
  ASSERT_EQ(::chown(port.c_str(), 0, dialout->gr_gid), 0);
  ASSERT_EQ(::chmod(port.c_str(), 0660), 0);
  {
    ChildProcess cli(options);
    EXPECT_EQ(cli.WaitExit(), kExitPortOpen);
    EXPECT_EQ(cli.Err(), port + ": Cannot open open " + port + ": Permission denied; " + port +
                             " belongs to group dialout; add yourself with: sudo usermod -aG "
                             "dialout $USER, then log in again\n");
  }
  ASSERT_EQ(::chown(port.c_str(), 0, 0), 0);
  ASSERT_EQ(::chmod(port.c_str(), 0600), 0);
  {
    ChildProcess cli(options);
    EXPECT_EQ(cli.WaitExit(), kExitPortOpen);
    EXPECT_EQ(cli.Err(), port + ": Cannot open open " + port + ": Permission denied; " + port +
                             " is mode 0600, owner root, group root: ask the administrator for "
                             "access (e.g. a udev rule)\n");
  }
  EXPECT_TRUE(module.Requests().empty());
}

TEST_F(CliEndToEnd, BusyPortNamesTheProgramThatHoldsIt) {
  SimModule module;
  const std::string& port = module.Path();
  const int held = ::open(port.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
  std::string self;
  std::getline(std::ifstream("/proc/self/comm"), self);

  ChildProcess cli(Cli({"--quiet", "-p", port, WriteImage(10)}));
  EXPECT_EQ(cli.WaitExit(), kExitPortOpen);
  EXPECT_EQ(cli.Err(), port + ": Cannot open open " + port +
                           ": the port is busy: another program holds it: " + self + " (pid " +
                           std::to_string(::getpid()) + ")\n");
  ::close(held);

  // Released, the same port loads.
  ChildProcess again(Cli({"--quiet", "-p", port, WriteImage(10)}));
  EXPECT_EQ(again.WaitExit(), 0) << again.Err();
}

// Ctrl-C, SIGTERM and SIGHUP (the terminal went away) in the middle of a
// run: 130, and the port is free for the next run at once.
TEST_F(CliEndToEnd, InterruptedRunClosesThePortAndEndsWith130) {
  const std::string image = WriteImage(300);
  for (int signo : {SIGINT, SIGTERM, SIGHUP}) {
    SimModule module({"--fault", "delay:60000@3"});  // the second chunk's ACK is a minute late
    ChildProcess cli(Cli({"--json", "-p", module.Path(), image}));
    ASSERT_TRUE(cli.WaitForOut(
        [](const std::string& out) { return Contains(out, R"("event":"progress")"); }));
    EXPECT_TRUE(ProcessHasOpen(cli.Pid(), module.Path()));  // the port is open right now
    const auto before = std::chrono::steady_clock::now();
    cli.Signal(signo);
    EXPECT_EQ(cli.WaitExit(10s), kExitInterrupted);
    const auto took = std::chrono::steady_clock::now() - before;
    RecordProperty(
        "ms_to_end_after_signal_" + std::to_string(signo),
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    const auto lines = Lines(cli.Out());
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(nlohmann::json::parse(lines[lines.size() - 3])["event"], "interrupted");
    EXPECT_EQ(nlohmann::json::parse(lines.back())["exit_code"], 130);

    ChildProcess again(Cli({"--quiet", "-p", module.Path(), image}));
    EXPECT_EQ(again.WaitExit(), 0) << again.Err();
  }
}

// The same in this process, on the real serial line: after Ctrl-C no
// descriptor of the port is left, before the program would even exit.
TEST_F(CliEndToEnd, CtrlCLeavesNoDescriptorOfThePortOpen) {
  SimModule module({"--fault", "delay:60000@3"});
  class RaiseOnProgress final : public RunOutput {
   public:
    explicit RaiseOnProgress(const std::string& port) : m_port(port) {}
    void OnEvent(const PortEvent& event) override {
      if (event.kind != PortEventKind::Progress || m_raised) return;
      m_raised = true;
      m_openBefore = ProcessHasOpen(::getpid(), m_port);
      ::raise(SIGINT);
    }
    void Trace(const std::string&) override {}
    void Finish(const std::vector<PortSummary>&, int) override {}
    const std::string m_port;
    bool m_raised = false;
    bool m_openBefore = false;
  } output(module.Path());
  const std::string image = WriteImage(300);
  LoadSession session({image, {module.Path()}, false, true}, output);
  SnapshotImageFile snapshot;
  ASSERT_TRUE(snapshot.Open(image));
  session.SetImageSnapshot(snapshot.Snapshot());
  EXPECT_EQ(session.Run(), kExitInterrupted);
  EXPECT_TRUE(output.m_openBefore);
  EXPECT_FALSE(ProcessHasOpen(::getpid(), module.Path()));
  EXPECT_EQ(session.Results().at(0).outcome, "interrupted");
}

TEST_F(CliEndToEnd, JsonLinesParseAndFollowTheRun) {
  SimModule module;
  ChildProcess cli(Cli({"--json", "-p", module.Path(), WriteImage(200)}));
  ASSERT_EQ(cli.WaitExit(), 0) << cli.Err();
  std::vector<std::string> events;
  int progress = 0;
  int lastPosition = 0;
  for (const auto& line : Lines(cli.Out())) {
    const auto event = nlohmann::json::parse(line);  // throws on a bad line
    events.push_back(event["event"]);
    if (event["event"] == "exit") continue;
    EXPECT_EQ(event["port"], module.Path());
    for (const char* key : {"position", "total", "status", "message", "elapsed"}) {
      EXPECT_TRUE(event.contains(key)) << line;
    }
    if (event["event"] == "progress") {
      EXPECT_EQ(event["total"], 200);
      EXPECT_GT(event["position"].get<int>(), lastPosition) << line;
      lastPosition = event["position"].get<int>();
      ++progress;
    }
  }
  // A progress line still waiting for the writer gives way to the next one,
  // so a busy machine may show fewer than the three chunks' lines.
  EXPECT_GE(progress, 1);
  EXPECT_LE(progress, 3);
  events.erase(std::unique(events.begin(), events.end(),
                           [](const std::string& a, const std::string& b) {
                             return a == "progress" && b == "progress";
                           }),
               events.end());
  const std::vector<std::string> expected = {"connecting", "connected", "started", "status",
                                             "progress",   "loaded",    "result",  "exit"};
  EXPECT_EQ(events, expected);
}

TEST_F(CliEndToEnd, TraceShowsTheFramesByteForByte) {
  SimModule module;
  const std::string image = WriteImage(65);
  ChildProcess cli(Cli({"--quiet", "--trace", "-p", module.Path(), image}));
  ASSERT_EQ(cli.WaitExit(), 0) << cli.Err();
  std::vector<std::string> trace;
  std::vector<std::string> sent;
  for (const auto& line : Lines(cli.Err())) {
    test::TraceRecord record;
    ASSERT_TRUE(test::ParseTraceLine(line, record)) << line;
    EXPECT_EQ(record.port, module.Path());
    trace.push_back(record.direction + " " + record.name + " " + record.hex);
    if (record.direction == "TX") {
      std::string hex = record.hex;
      hex.erase(std::remove(hex.begin(), hex.end(), ' '), hex.end());
      std::transform(hex.begin(), hex.end(), hex.begin(), ::tolower);
      sent.push_back(hex);
    }
  }
  const auto* bytes = reinterpret_cast<const uint8_t*>(m_image.data());
  const std::vector<std::string> expected = {
      "TX CONNECT B0 EF 01 00",
      "RX CONNECT-REPLY B0 EF 00 01 00",
      "TX INIT B0 EF 55 02 AA 04",
      "RX ACK B0 EF AA 01 00",
      "TX SEND B0 EF 66 40 " + HexBytes(bytes, 64),
      "RX ACK B0 EF AA 01 00",
      "TX SENDLAST B0 EF 66 01 " + HexBytes(bytes + 64, 1),
      "RX ACK B0 EF AA 01 00",
      "TX FLASH B0 EF 55 09 55 02 03 04 05 06 07 08 01",
      "RX ACK B0 EF AA 01 00",
  };
  EXPECT_EQ(trace, expected);
  // What the trace says went out is what the module received.
  module.Process().Signal(SIGTERM);
  module.Process().WaitExit();
  EXPECT_EQ(sent, module.Requests());
}

TEST_F(CliEndToEnd, TerminalShowsBarsRedrawnInPlace) {
  SimModule module;
  auto options = Cli({"-p", module.Path(), WriteImage(2000)});
  options.stdoutOnTerminal = true;
  ChildProcess cli(options);
  ASSERT_EQ(cli.WaitExit(), 0) << cli.Err();
  const std::string out = cli.Out();
  EXPECT_TRUE(
      Contains(out, "\r\x1b[2K" + module.Path() + "  [------------------------]   0%  CONNECTING"));
  EXPECT_TRUE(Contains(out, "\x1b[1A\r\x1b[2K" + module.Path() +
                                "  [########################] 100% 2000/2000 bytes"))
      << out;
  EXPECT_TRUE(Contains(out, "MODULE LOADED\r\n\r\n"));  // the terminal turns \n into \r\n
  EXPECT_TRUE(Contains(out, "1 of 1 modules loaded; exit status 0\r\n"));
}

TEST_F(CliEndToEnd, HelpListsTheExitCodesAndPortsAreListed) {
  ChildProcess help(Cli({"--help"}));
  EXPECT_EQ(help.WaitExit(), 0);
  EXPECT_TRUE(Contains(help.Out(), "Exit status:\n" + ExitCodeTable()));
  ChildProcess list(Cli({"--list-ports"}));
  EXPECT_EQ(list.WaitExit(), 0);
  EXPECT_TRUE(list.Out().rfind("DEVICE", 0) == 0 || list.Out() == "No serial ports found.\n")
      << list.Out();
}

// `duvozeviv-cli ... | head -1`: once the reader is gone the output ends,
// but the load goes on to its end and its exit status.
TEST_F(CliEndToEnd, AClosedOutputPipeEndsTheOutputNotTheLoad) {
  for (const char* mode : {"--json", "--quiet"}) {
    SimModule module({"--count", "1", "--out", (m_dir.Path() / "received.mbf").string()});
    Pipe out;
    out.CloseRead();
    auto options = Cli({mode, "-p", module.Path(), WriteImage(1000)});
    options.stdoutFd = out.Write();
    ChildProcess cli(options);
    out.CloseWrite();
    EXPECT_EQ(cli.WaitExit(), 0) << mode << ": " << cli.Err();
    EXPECT_EQ(cli.Err(), "") << mode;
    EXPECT_EQ(module.Process().WaitExit(), 0) << mode;
    std::ifstream received(m_dir.Path() / "received.mbf", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(received), {}), m_image) << mode;
  }
}

// --json into a pipe nobody reads: the run goes on far past what the pipe
// holds, and SIGTERM still ends it at once.
TEST_F(CliEndToEnd, AnOutputNobodyReadsStallsNeitherTheLinesNorTheSignals) {
  SimModule module({"--fault", "delay:60000@1500"});  // ~200 kB of progress lines before it
  Pipe out;
  auto cli = LoadIntoUnreadPipe(module, out, [](const std::string& events) {
    return Count(events, R"("event":"request")") >= 1500;
  });
  ASSERT_TRUE(cli) << "the loader stalled in a write";
  cli->Signal(SIGTERM);
  EXPECT_EQ(cli->WaitExit(10s), kExitInterrupted);
}

// A reader that only starts reading once the module is flashed still gets
// every result and the exit line.
TEST_F(CliEndToEnd, ASlowReaderGetsTheResultsAndTheExitLine) {
  SimModule module;
  Pipe out;
  auto cli = LoadIntoUnreadPipe(
      module, out, [](const std::string& events) { return Contains(events, kFlashFrame); });
  ASSERT_TRUE(cli) << "the loader stalled in a write";
  const auto lines = Lines(ReadToEnd(out.Read(), 30s));
  EXPECT_EQ(cli->WaitExit(), 0) << cli->Err();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(nlohmann::json::parse(lines.front())["event"], "connecting");
  const auto result = nlohmann::json::parse(lines[lines.size() - 2]);
  EXPECT_EQ(result["event"], "result");
  EXPECT_EQ(result["status"], "MODULE LOADED");
  EXPECT_EQ(result["position"], 128 * 1024);
  EXPECT_EQ(nlohmann::json::parse(lines.back())["exit_code"], 0);
  for (const auto& line : lines) EXPECT_TRUE(nlohmann::json::accept(line)) << line;
}

// Started with no standard streams at all, the loader's own descriptors must
// not take their numbers: --trace would write into them.
TEST_F(CliEndToEnd, WithTheStandardStreamsClosedTheLoadStillRuns) {
  SimModule module({"--count", "1", "--out", (m_dir.Path() / "received.mbf").string()});
  auto options = Cli({"--trace", "-p", module.Path(), WriteImage(300)});
  options.closeStdStreams = true;
  ChildProcess cli(options);
  EXPECT_EQ(cli.WaitExit(), 0);
  EXPECT_EQ(module.Process().WaitExit(), 0);
  std::ifstream received(m_dir.Path() / "received.mbf", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(received), {}), m_image);
}

// The loader's own terminal, by any name, is never taken for a module's line.
TEST_F(CliEndToEnd, TheLoadersOwnTerminalIsRefused) {
  for (const std::string port : {"/dev/tty", "/proc/self/fd/1"}) {
    auto options = Cli({"-p", port, WriteImage(10)});
    options.stdoutOnTerminal = true;
    ChildProcess cli(options);
    EXPECT_EQ(cli.WaitExit(), kExitPortOpen) << port;
    EXPECT_EQ(cli.Err(), port + ": Cannot open open " + port +
                             ": this is the loader's own terminal (its controlling terminal or "
                             "one of its standard streams), not a module's serial line\n");
    EXPECT_FALSE(Contains(cli.Out(), "\xB0\xEF")) << "nothing was sent to the terminal";
  }
}

}  // namespace
}  // namespace vexel::cli

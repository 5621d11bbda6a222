// Station sessions over in-process fixtures of modules (sim::ModuleFixture):
// which modules are programmed, what the audit log holds, how a session ends.
// They run on a clock that jumps to the next timer instead of waiting, but
// for the cases whose log writer thread must keep up with the session.
#include "runner/port_runner.h"
#include "session/station_session.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/exit_codes.h"
#include "load_session_fixture.h"
#include "protocol/sha256.h"

namespace vexel::cli::test {
namespace {

// Keeps the lines in memory; can fail from a given line on, or hold every
// write until the test lets it go (a disk that does not keep up).
class MemorySink final : public AuditSink {
 public:
  struct Shared {
    std::mutex mutex;
    std::condition_variable released;
    std::vector<std::string> lines;
    size_t failFrom = SIZE_MAX;  // 0-based line that fails, and every later one
    bool held = false;
    size_t attempts = 0;
  };

  explicit MemorySink(std::shared_ptr<Shared> shared) : m_shared(std::move(shared)) {}

  int Append(const std::string& line) override {
    std::unique_lock<std::mutex> lock(m_shared->mutex);
    m_shared->released.wait(lock, [this] { return !m_shared->held; });
    if (m_shared->attempts++ >= m_shared->failFrom) return 28;  // ENOSPC
    m_shared->lines.push_back(line);
    return 0;
  }

 private:
  std::shared_ptr<Shared> m_shared;
};

// Passes the session's calls on to a real output and lets a test act on
// module ends.
class HookStation final : public StationOutput {
 public:
  HookStation(StationOutput& inner, std::function<void(size_t, const PortSummary&)> onEnded)
      : m_inner(inner), m_onEnded(std::move(onEnded)) {}
  void Started(const StationInfo& info) override { m_inner.Started(info); }
  void ModuleFound(size_t port, size_t module, double elapsed) override {
    m_inner.ModuleFound(port, module, elapsed);
    if (m_onFound) m_onFound();
  }
  void OnEvent(size_t module, const PortEvent& event) override {
    m_inner.OnEvent(module, event);
    if (m_onEvent) m_onEvent(event);
  }
  void ModuleEnded(size_t port, size_t module, const PortSummary& result,
                   const StationCounts& counts, double elapsed) override {
    m_inner.ModuleEnded(port, module, result, counts, elapsed);
    m_onEnded(module, result);
  }
  void ModuleRemoved(size_t port, size_t module, double elapsed) override {
    m_inner.ModuleRemoved(port, module, elapsed);
  }
  void PortStopped(size_t port, const std::string& reason, double elapsed) override {
    m_inner.PortStopped(port, reason, elapsed);
  }
  void PortWarning(size_t port, const std::string& text, double elapsed) override {
    m_inner.PortWarning(port, text, elapsed);
  }
  void Notice(const char* event, const std::string& text, double elapsed) override {
    m_inner.Notice(event, text, elapsed);
  }
  void Unwritten(const std::string& log, const std::vector<std::string>& lines) override {
    m_inner.Unwritten(log, lines);
  }
  void Trace(const std::string& line) override { m_inner.Trace(line); }
  void Finish(const std::vector<StationCounts>& counts, int code, double elapsed) override {
    m_inner.Finish(counts, code, elapsed);
  }

  std::function<void(const PortEvent&)> m_onEvent;
  std::function<void()> m_onFound;

 private:
  StationOutput& m_inner;
  std::function<void(size_t, const PortSummary&)> m_onEnded;
};

class StationSessionTest : public ::testing::Test {
 protected:
  // A port whose line leads to a fixture of @p modules modules.
  std::shared_ptr<ModuleLineState> AddFixture(size_t modules, uint32_t gapMs,
                                              const std::vector<std::string>& faults = {},
                                              uint32_t dwellMs = 0) {
    sim::FixtureConfig config;
    config.modules = modules;
    config.gapMs = gapMs;
    config.dwellMs = dwellMs;
    for (const auto& spec : faults) {
      sim::ModuleFault fault;
      std::string error;
      EXPECT_TRUE(sim::ParseModuleFault(spec, fault, error)) << error;
      config.faults.push_back(fault);
    }
    auto state = std::make_shared<ModuleLineState>();
    state->fixture = std::make_shared<sim::ModuleFixture>(config);
    m_states.push_back(state);
    return state;
  }

  // Every probe of a port gets a new line, as the real port would.
  int Run(std::vector<std::string> ports, size_t count, bool log = true,
          std::function<void(size_t, const PortSummary&)> onEnded = {}) {
    OutputSettings settings;
    settings.mode = OutputMode::Quiet;
    settings.ports = ports;
    auto quiet = MakeStationOutput(settings, m_out, m_err);
    if (!onEnded) onEnded = [](size_t, const PortSummary&) {};
    HookStation output(*quiet, onEnded);
    output.m_onEvent = m_onEvent;
    output.m_onFound = m_onFound;
    StationSettings station;
    station.image = m_imagePath;
    station.ports = ports;
    station.count = count;
    station.imageCheckPeriod = std::chrono::milliseconds(20);
    station.program = "duvozeviv-cli";
    station.makeLoop = m_loopChoice.Maker();
    station.describePort = [this](const std::string& port) {
      auto it = m_adapters.find(port);
      SerialPortInfo info = it != m_adapters.end() ? it->second : SerialPortInfo{};
      info.device = port;
      return info;
    };
    std::map<std::string, std::shared_ptr<ModuleLineState>> byPort;
    for (size_t i = 0; i < ports.size(); ++i) byPort[ports[i]] = m_states.at(i);
    m_session = std::make_unique<StationSession>(
        station, output, log ? std::make_unique<MemorySink>(m_log) : std::unique_ptr<MemorySink>(),
        "audit.jsonl", [&] {
          return std::make_unique<ModuleLine>(
              [&](const std::string& port) { return byPort.at(port); });
        });
    SnapshotImageFile image;
    EXPECT_TRUE(image.Open(m_imagePath));
    m_session->SetImage(image.Snapshot());
    image.Close();  // as the program does: the session holds its snapshot only
    const int code = m_session->Run();
    m_refused = m_session->Refused();
    m_counts = m_session->Counts();
    m_session.reset();
    return code;
  }

  std::vector<nlohmann::json> Records() {
    std::vector<nlohmann::json> records;
    std::lock_guard<std::mutex> lock(m_log->mutex);
    for (const auto& line : m_log->lines) records.push_back(nlohmann::json::parse(line));
    return records;
  }

  // The records' kinds and, for modules, "module N: outcome".
  std::vector<std::string> Story() {
    std::vector<std::string> story;
    for (const auto& record : Records()) {
      std::string line = record["record"];
      if (line == "module") {
        line += " " + record["port"].get<std::string>() + "#" +
                std::to_string(record["module"].get<size_t>()) + ": " +
                record["outcome"].get<std::string>() + " (" +
                record["exit_class"].get<std::string>() + ")";
      }
      story.push_back(line);
    }
    return story;
  }

  void SetUp() override {
    m_image = ImageOf(300);
    m_imagePath = m_dir.Write("image.mbf", m_image).string();
  }

  std::vector<uint8_t> ImageBytes() const { return {m_image.begin(), m_image.end()}; }

  TempDir m_dir;
  SessionLoopChoice m_loopChoice;
  bool m_refused = false;
  std::string m_image;
  std::string m_imagePath;
  std::vector<std::shared_ptr<ModuleLineState>> m_states;
  std::shared_ptr<MemorySink::Shared> m_log = std::make_shared<MemorySink::Shared>();
  std::unique_ptr<StationSession> m_session;
  std::function<void(const PortEvent&)> m_onEvent;
  std::function<void()> m_onFound;
  std::map<std::string, SerialPortInfo> m_adapters;
  std::vector<StationCounts> m_counts;
  std::ostringstream m_out;
  std::ostringstream m_err;
};

TEST_F(StationSessionTest, EachModuleIsProgrammedOnceInTurnAndLogged) {
  // Module 1 misses its first probe: that is no failure, only a later start.
  // Every module takes 100 ms to answer INIT, the run's only time on this
  // clock.
  auto fixture = AddFixture(3, 100, {"noreply@0#1", "delay:100@1"});
  EXPECT_EQ(Run({"A"}, 3), kExitOk);
  EXPECT_EQ(fixture->fixture->FlashedBy(), (std::vector<size_t>{1, 2, 3}));
  for (const auto& image : fixture->fixture->FlashedImages()) EXPECT_EQ(image, ImageBytes());
  EXPECT_TRUE(fixture->fixture->Violations().empty());
  EXPECT_FALSE(fixture->open);
  EXPECT_EQ(m_out.str(),
            "A: module 1: MODULE LOADED\nA: module 2: MODULE LOADED\nA: module 3: MODULE LOADED\n");
  EXPECT_EQ(m_err.str(), "");
  EXPECT_EQ(Story(),
            (std::vector<std::string>{"session_start", "module A#1: MODULE LOADED (loaded)",
                                      "module A#2: MODULE LOADED (loaded)",
                                      "module A#3: MODULE LOADED (loaded)", "session_end"}));
  const auto records = Records();
  const std::string sha = Sha256Hex(ImageBytes().data(), m_image.size());
  for (const auto& record : records) {
    EXPECT_EQ(record["image"], m_imagePath);
    EXPECT_EQ(record["size"], 300);
    EXPECT_EQ(record["sha256"], sha);
    EXPECT_EQ(record["host"], HostName());
    // Two sessions started at one moment on one host are two processes.
    EXPECT_EQ(record["session"],
              records[0]["time"].get<std::string>() + "/" + std::to_string(ProcessId()));
    const std::string time = record["time"];
    EXPECT_EQ(time.size(), 24u) << time;
    EXPECT_EQ(time.back(), 'Z');
  }
  EXPECT_EQ(records[1]["bytes"], 300);
  EXPECT_EQ(records[1]["exit_code"], 0);
  EXPECT_EQ(records[1]["seconds"].get<double>(), 0.1);
  EXPECT_EQ(records[1]["bytes_per_second"].get<double>(), 3000);
  EXPECT_EQ(records[4]["reason"], "count");
  EXPECT_EQ(records[4]["modules"], 3);
  EXPECT_EQ(records[4]["loaded"], 3);
  EXPECT_EQ(records[4]["failed"], 0);
  EXPECT_EQ(records[4]["exit_code"], 0);
}

// A record names the fixture's adapter too, with what the system knows.
TEST_F(StationSessionTest, ModuleRecordsCarryTheAdapterWhereItIsKnown) {
  AddFixture(1, 0);
  AddFixture(1, 0);
  AddFixture(1, 0);  // C: a pseudo-terminal, nothing known
  SerialPortInfo ftdi;
  ftdi.driver = "ftdi_sio";
  ftdi.usbId = "0403:6001";
  ftdi.serial = "A50285BI";
  ftdi.product = "FT232R USB UART";
  m_adapters["A"] = ftdi;
  SerialPortInfo uart;
  uart.driver = "serial8250";
  m_adapters["B"] = uart;
  EXPECT_EQ(Run({"A", "B", "C"}, 1), kExitOk);
  std::map<std::string, nlohmann::json> adapters;
  for (const auto& record : Records()) {
    if (record["record"] == "module")
      adapters[record["port"]] = record.value("adapter", nlohmann::json());
  }
  EXPECT_EQ(adapters["A"],
            (nlohmann::json{{"driver", "ftdi_sio"}, {"usb", "0403:6001"}, {"serial", "A50285BI"}}));
  EXPECT_EQ(adapters["B"], (nlohmann::json{{"driver", "serial8250"}}));
  EXPECT_EQ(adapters["C"], nlohmann::json());  // no "adapter" at all
}

// A station opens its port for every probe: the adapter's warning is still
// shown once a session, not once a probe.
TEST_F(StationSessionTest, AnAdapterWarningIsShownOncePerPortAndSession) {
  auto slow = AddFixture(3, 400);
  slow->adapterWarning = "the adapter's latency timer is 16 ms";
  AddFixture(3, 400);
  EXPECT_EQ(Run({"A", "B"}, 3), kExitOk);
  EXPECT_EQ(m_err.str(), "A: warning: the adapter's latency timer is 16 ms\n");
}

TEST_F(StationSessionTest, AModuleLeftOnTheFixtureIsNotProgrammedAgain) {
  auto module = AddFixture(0, 0);  // one module that stays
  // The state holds the hook: a raw pointer, or the two would keep each other.
  module->onOpen = [this, state = module.get()](EventLoop& loop) {
    // The first probe programs it; three more only find it still there.
    if (state->opens == 4) loop.Post([this] { m_session->Interrupt(); });
  };
  EXPECT_EQ(Run({"A"}, 5), kExitOk);
  EXPECT_EQ(module->fixture->FlashedImages().size(), 1u);
  EXPECT_EQ(module->opens, 4);
  EXPECT_FALSE(module->open);
  EXPECT_EQ(Story(), (std::vector<std::string>{
                         "session_start", "module A#1: MODULE LOADED (loaded)", "session_end"}));
  EXPECT_EQ(Records().back()["reason"], "interrupted");
}

TEST_F(StationSessionTest, AQuickSwapIsSeenAsANewModule) {
  // The operator takes each module off 1.1 s after its image is flashed and
  // puts the next one on as quickly as the station is said to see.
  const auto swap = static_cast<uint32_t>(kQuickestSwapSeen.count());
  auto fixture = AddFixture(4, swap, {}, 1100);
  EXPECT_EQ(Run({"A"}, 4), kExitOk);
  EXPECT_EQ(fixture->fixture->FlashedBy(), (std::vector<size_t>{1, 2, 3, 4}));
  EXPECT_EQ(fixture->fixture->Attached(), 4u);
  EXPECT_EQ(m_err.str(), "");
}

TEST_F(StationSessionTest, AStrayFrameBeforeTheConnectReplyIsProbedAgainNotAFailure) {
  // The last ACK of a session killed a moment ago reaches the first probe,
  // which module 1, still busy, does not answer.
  auto fixture = AddFixture(1, 0, {"noreply@0#1"});
  fixture->onOpen = [state = fixture.get()](EventLoop&) {
    if (state->opens != 1) return;
    state->rx.assign(kAckFrame.begin(), kAckFrame.end());
    state->target->PostComMessage(0, kEventRxChar, 0);
  };
  EXPECT_EQ(Run({"A"}, 1), kExitOk);
  EXPECT_EQ(fixture->fixture->FlashedBy(), (std::vector<size_t>{1}));
  EXPECT_EQ(Story(), (std::vector<std::string>{
                         "session_start", "module A#1: MODULE LOADED (loaded)", "session_end"}));
}

TEST_F(StationSessionTest, FailedModulesAreLoggedAndTheFirstFailureSetsTheStatus) {
  // Module 2 answers its second chunk wrongly; module 3 flashes its image
  // but garbles the reply to FLASH. Each is taken off once the station
  // probes it again.
  auto fixture = AddFixture(4, 50, {"wrong@3#2", "wrong@7#3"});
  EXPECT_EQ(Run({"A"}, 4), kExitInvalidResponse);
  EXPECT_EQ(fixture->fixture->FlashedBy(), (std::vector<size_t>{1, 3, 4}));
  EXPECT_EQ(Story(), (std::vector<std::string>{
                         "session_start", "module A#1: MODULE LOADED (loaded)",
                         "module A#2: Invalid response from module for SEND (invalid-response)",
                         "module A#3: Invalid response from module for FLASH (invalid-response)",
                         "module A#4: MODULE LOADED (loaded)", "session_end"}));
  EXPECT_EQ(m_err.str(),
            "A: module 2: Invalid response from module for SEND\n"
            "A: module 3: Invalid response from module for FLASH\n");
  EXPECT_EQ(m_counts[0].loaded, 2u);
  EXPECT_EQ(m_counts[0].failed, 2u);
  EXPECT_EQ(Records().back()["exit_code"], kExitInvalidResponse);
}

TEST_F(StationSessionTest, AModuleThatAnswersTheProbeWronglyIsAFailedModuleNotSilence) {
  // Module 1 garbles every connect reply until it is taken off.
  auto fixture = AddFixture(2, 50, {"wrong@0!#1"});
  EXPECT_EQ(Run({"A"}, 2), kExitNoConnectReply);
  EXPECT_EQ(fixture->fixture->FlashedBy(), (std::vector<size_t>{2}));
  const std::string text =
      "Unable to connect to module: the reply to the probe was not a connect reply";
  EXPECT_EQ(Story(), (std::vector<std::string>{
                         "session_start", "module A#1: " + text + " (no-connect-reply)",
                         "module A#2: MODULE LOADED (loaded)", "session_end"}));
  EXPECT_EQ(m_err.str(), "A: module 1: " + text + "\n");
}

TEST_F(StationSessionTest, APortThatCannotBeOpenedStopsAloneAndSetsTheStatus) {
  auto broken = AddFixture(1, 0);
  broken->openResult = 5;
  auto good = AddFixture(2, 50);
  EXPECT_EQ(Run({"A", "B"}, 2), kExitPortOpen);
  EXPECT_EQ(broken->opens, 0);
  EXPECT_EQ(good->fixture->FlashedBy(), (std::vector<size_t>{1, 2}));
  EXPECT_EQ(m_err.str(), "A: Cannot open open A: result 5\n");
  EXPECT_EQ(Story(), (std::vector<std::string>{
                         "session_start", "port_stopped", "module B#1: MODULE LOADED (loaded)",
                         "module B#2: MODULE LOADED (loaded)", "session_end"}));
  EXPECT_EQ(Records()[1]["exit_class"], "port");
}

TEST_F(StationSessionTest, ALogThatCannotBeWrittenStopsTheSessionAndLosesNoRecord) {
  m_loopChoice.realTime = true;  // the writer's word must come before the next module
  auto fixture = AddFixture(3, 50);
  m_log->failFrom = 1;  // the first module's record meets a full disk
  EXPECT_EQ(Run({"A"}, 3), kExitAuditLog);
  EXPECT_EQ(fixture->fixture->FlashedImages().size(), 1u);
  EXPECT_FALSE(fixture->open);
  // Told once; the records the log could not take follow, whole.
  const std::string err = m_err.str();
  const std::string notice =
      "duvozeviv-cli: audit log audit.jsonl: " + DescribeOsError(28) +
      "; the session stops: modules being programmed are finished, no new module is taken\n"
      "2 audit records not written to audit.jsonl:\n";
  ASSERT_EQ(err.substr(0, notice.size()), notice);
  std::istringstream rest(err.substr(notice.size()));
  std::string module;
  std::string end;
  std::getline(rest, module);
  std::getline(rest, end);
  EXPECT_EQ(nlohmann::json::parse(module)["record"], "module");
  EXPECT_EQ(nlohmann::json::parse(module)["outcome"], "MODULE LOADED");
  EXPECT_EQ(nlohmann::json::parse(end)["record"], "session_end");
  EXPECT_EQ(nlohmann::json::parse(end)["reason"], "log-failed");
  EXPECT_EQ(nlohmann::json::parse(end)["exit_code"], kExitAuditLog);
  EXPECT_EQ(Story(), (std::vector<std::string>{"session_start"}));
}

TEST_F(StationSessionTest, ASlowLogHoldsUpNoModule) {
  auto fixture = AddFixture(3, 50);
  m_log->held = true;  // not even the session's first record gets out
  const int code = Run({"A"}, 3, true, [this](size_t module, const PortSummary&) {
    if (module != 3) return;
    std::lock_guard<std::mutex> lock(m_log->mutex);
    EXPECT_TRUE(m_log->lines.empty());
    m_log->held = false;
    m_log->released.notify_all();
  });
  EXPECT_EQ(code, kExitOk);
  EXPECT_EQ(fixture->fixture->FlashedImages().size(), 3u);
  EXPECT_EQ(Story(),
            (std::vector<std::string>{"session_start", "module A#1: MODULE LOADED (loaded)",
                                      "module A#2: MODULE LOADED (loaded)",
                                      "module A#3: MODULE LOADED (loaded)", "session_end"}));
}

TEST_F(StationSessionTest, AnInterruptMidModuleClosesThePortAndRecordsIt) {
  auto fixture = AddFixture(2, 50, {"delay:60000@3#1"});
  m_onEvent = [this, fixture](const PortEvent& event) {
    // As Ctrl-C would: handled on the loop, not inside the runner's call.
    if (event.kind == PortEventKind::Progress && event.position == 64) {
      EXPECT_TRUE(fixture->open);
      fixture->loop->Post([this] { m_session->Interrupt(); });
    }
  };
  EXPECT_EQ(Run({"A"}, 2), kExitInterrupted);
  EXPECT_FALSE(fixture->open);
  EXPECT_TRUE(fixture->fixture->FlashedImages().empty());
  EXPECT_EQ(Story(), (std::vector<std::string>{
                         "session_start", "module A#1: interrupted (interrupted)", "session_end"}));
  EXPECT_EQ(Records().back()["reason"], "interrupted");
  EXPECT_EQ(m_err.str(), "A: module 1: interrupted\n");
}

TEST_F(StationSessionTest, AnInterruptBeforeInitLeavesTheModuleNotProgrammedNotFailed) {
  auto fixture = AddFixture(2, 50);
  bool interrupted = false;
  m_onFound = [&, fixture] {
    if (interrupted) return;
    interrupted = true;
    fixture->loop->Post([this] { m_session->Interrupt(); });
  };
  EXPECT_EQ(Run({"A"}, 2), kExitOk);
  EXPECT_TRUE(fixture->fixture->FlashedImages().empty());
  EXPECT_EQ(Story(), (std::vector<std::string>{
                         "session_start",
                         "module A#1: not programmed: interrupted before INIT, nothing was sent "
                         "(interrupted)",
                         "session_end"}));
  const auto records = Records();
  EXPECT_EQ(records.back()["reason"], "interrupted");
  EXPECT_EQ(records.back()["failed"], 0);
  EXPECT_EQ(records.back()["exit_code"], 0);
  EXPECT_EQ(m_counts[0].failed, 0u);
}

TEST_F(StationSessionTest, ALineLostMidModuleFailsItAndThePortWaitsForItsDeviceToComeBack) {
  auto fixture = AddFixture(2, 50, {"delay:60000@3#1"});
  bool lost = false;
  m_onEvent = [&lost, state = fixture.get()](const PortEvent& event) {
    if (lost || event.kind != PortEventKind::Progress || event.position != 64) return;
    lost = true;
    // The adapter is pulled: the line reports it, and the device is gone
    // until it is plugged in again, 700 ms later.
    state->openResult = 2;
    state->target->PostComMessage(0, kEventLineLost, 0);
    state->loop->StartTimer(state->loop->Now() + std::chrono::milliseconds(700),
                            [state] { state->openResult = kResultOk; });
  };
  EXPECT_EQ(Run({"A"}, 2), kExitLineLost);
  EXPECT_EQ(fixture->fixture->FlashedBy(), (std::vector<size_t>{2}));
  // Tried once a probe period while it was away, not in a busy loop.
  EXPECT_GE(fixture->refusedOpens, 2);
  EXPECT_LE(fixture->refusedOpens, 5);
  const std::string lostText = LineLostText("A");
  EXPECT_EQ(Story(), (std::vector<std::string>{
                         "session_start", "module A#1: " + lostText + " (line-lost)", "port_lost",
                         "port_back", "module A#2: MODULE LOADED (loaded)", "session_end"}));
  EXPECT_EQ(Records()[2]["port"], "A");
  EXPECT_EQ(
      m_err.str(),
      "A: module 1: " + lostText +
          "\n"
          "duvozeviv-cli: A went away (adapter unplugged or driver stopped); waiting for it to "
          "come back under the same name\n"
          "duvozeviv-cli: A is back; the station goes on on it\n");
}

// Ctrl-C is how a station ends: one that could not catch it would die
// without its session_end record. It opens and records nothing instead.
TEST_F(StationSessionTest, AStationThatCannotCatchInterruptsOpensAndRecordsNothing) {
  auto fixture = AddFixture(2, 50);
  m_loopChoice.refuseInterrupts = true;
  EXPECT_EQ(Run({"A"}, 2), kExitInvalidResponse);
  EXPECT_TRUE(m_refused);
  EXPECT_EQ(fixture->opens, 0);
  EXPECT_TRUE(Records().empty());
  EXPECT_EQ(m_out.str(), "");
  EXPECT_EQ(m_err.str(), "");
}

TEST_F(StationSessionTest, AnImageChangedOnDiskIsToldOnceAndNotPickedUp) {
  auto fixture = AddFixture(2, 200);
  const int code = Run({"A"}, 2, true, [this](size_t module, const PortSummary&) {
    if (module == 1) m_dir.Write("image.mbf", ImageOf(500));
  });
  EXPECT_EQ(code, kExitOk);
  ASSERT_EQ(fixture->fixture->FlashedImages().size(), 2u);
  EXPECT_EQ(fixture->fixture->FlashedImages()[1], ImageBytes());
  const std::string sha = Sha256Hex(ImageBytes().data(), m_image.size());
  EXPECT_EQ(m_err.str(), "duvozeviv-cli: " + m_imagePath +
                             " changed on disk; this session goes on sending the image it "
                             "started with (SHA-256 " +
                             sha + "); start a new session to send the file as it is now\n");
  EXPECT_EQ(Story(), (std::vector<std::string>{
                         "session_start", "module A#1: MODULE LOADED (loaded)", "image_changed",
                         "module A#2: MODULE LOADED (loaded)", "session_end"}));
}

TEST_F(StationSessionTest, AnImageGoneFromDiskIsRecordedWithNoSizeNow) {
  auto fixture = AddFixture(2, 200);
  const int code = Run({"A"}, 2, true, [this](size_t module, const PortSummary&) {
    if (module == 1) std::filesystem::remove(m_imagePath);
  });
  EXPECT_EQ(code, kExitOk);
  EXPECT_EQ(fixture->fixture->FlashedImages().size(), 2u);
  const auto records = Records();
  ASSERT_EQ(records.size(), 5u);
  EXPECT_EQ(records[2]["record"], "image_changed");
  EXPECT_EQ(records[2]["exists"], false);
  ASSERT_TRUE(records[2].contains("size_now"));
  EXPECT_TRUE(records[2]["size_now"].is_null());
}

}  // namespace
}  // namespace vexel::cli::test

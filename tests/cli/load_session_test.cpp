// Whole loads through the session and its runners, with in-process modules
// on real time: every connect waits out its one-second probe window.
#include "cli/load_session.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

#include "cli/frame_trace.h"
#include "module_line.h"
#include "temp_dir.h"
#include "text_fields.h"

namespace vexel::cli {
namespace {

using test::ModuleLine;
using test::ModuleLineState;
using test::TempDir;

std::string ImageOf(size_t length) {
  std::string image(length, '\0');
  for (size_t i = 0; i < length; ++i) image[i] = static_cast<char>(i * 7 + 3);
  return image;
}

// Passes events on to another output and lets a test act on them.
class HookOutput final : public RunOutput {
 public:
  HookOutput(RunOutput& inner, std::function<void(const PortEvent&)> hook)
      : m_inner(inner), m_hook(std::move(hook)) {}
  void OnEvent(const PortEvent& event) override {
    m_inner.OnEvent(event);
    m_hook(event);
  }
  void Trace(const std::string& line) override { m_inner.Trace(line); }
  void Finish(const std::vector<PortSummary>& rows, int code) override {
    m_inner.Finish(rows, code);
  }

 private:
  RunOutput& m_inner;
  std::function<void(const PortEvent&)> m_hook;
};

class LoadSessionTest : public ::testing::Test {
 protected:
  std::shared_ptr<ModuleLineState> AddPort(const std::string& fault = {}) {
    auto state = std::make_shared<ModuleLineState>();
    if (!fault.empty()) {
      sim::Fault parsed;
      std::string error;
      EXPECT_TRUE(sim::ParseFault(fault, parsed, error)) << error;
      state->module.AddFault(parsed);
    }
    m_states.push_back(state);
    return state;
  }

  int Run(std::vector<std::string> ports, const std::string& imagePath, bool trace = false,
          std::function<void(const PortEvent&)> hook = [](const PortEvent&) {}) {
    OutputSettings settings;
    settings.mode = OutputMode::Quiet;
    settings.ports = ports;
    auto quiet = MakeRunOutput(settings, m_out, m_err);
    HookOutput output(*quiet, std::move(hook));
    size_t next = 0;
    LoadSession session({imagePath, ports, trace, true}, output,
                        [&] { return std::make_unique<ModuleLine>(m_states.at(next++)); });
    const int code = session.Run();
    m_results = session.Results();
    return code;
  }

  std::string WriteImage(const std::string& image) {
    return m_dir.Write("image.mbf", image).string();
  }

  TempDir m_dir;
  std::vector<std::shared_ptr<ModuleLineState>> m_states;
  std::vector<PortSummary> m_results;
  std::ostringstream m_out;
  std::ostringstream m_err;
};

TEST_F(LoadSessionTest, OneModuleIsLoadedAndTheLineClosed) {
  const std::string image = ImageOf(200);
  auto module = AddPort();
  EXPECT_EQ(Run({"COM1"}, WriteImage(image)), 0);
  EXPECT_EQ(m_out.str(), "COM1: MODULE LOADED\n");
  EXPECT_EQ(m_err.str(), "");
  ASSERT_EQ(module->module.FlashedImages().size(), 1u);
  EXPECT_EQ(std::string(module->module.FlashedImages()[0].begin(),
                        module->module.FlashedImages()[0].end()),
            image);
  EXPECT_EQ(module->baud, 57600u);
  EXPECT_EQ(module->parity, EVENPARITY);
  EXPECT_EQ(module->stopBits, TWOSTOPBITS);
  EXPECT_FALSE(module->open);
  EXPECT_EQ(module->closes, 1);

  ASSERT_EQ(m_results.size(), 1u);
  const PortSummary& row = m_results[0];
  EXPECT_TRUE(row.loaded);
  EXPECT_EQ(row.outcome, "MODULE LOADED");
  EXPECT_EQ(row.bytes, 200u);
  // INIT + ACK, three SEND of 68 + ACK, SENDLAST of 12 + ACK, FLASH + ACK.
  EXPECT_EQ(row.lineBytes, 11u + 3 * 73 + 17 + 18);
  EXPECT_GT(row.seconds, 0.0);
  EXPECT_LT(row.seconds, 1.0);  // no probe window in it
}

// Each failure class: its text, its exit code, and the line closed after it.
TEST_F(LoadSessionTest, EachFailureClassEndsWithItsTextAndCode) {
  const struct {
    const char* fault;
    int code;
    const char* text;
    bool flashed;  // the module received FLASH (and answered it wrongly)
  } cases[] = {
      {"noreply@0", 5, "Unable to connect to module", false},
      {"noreply@1", 6, "Module not responding", false},
      {"wrong@1", 7, "Invalid response from module for INIT", false},
      {"wrong@2", 7, "Invalid response from module for SEND", false},
      {"wrong@5", 7, "Invalid response from module for SENDLAST", false},
      {"wrong@6", 7, "Invalid response from module for FLASH", true},
  };
  const std::string path = WriteImage(ImageOf(200));  // SEND at steps 2-4, SENDLAST 5, FLASH 6
  for (const auto& c : cases) {
    m_states.clear();
    m_out.str("");
    m_err.str("");
    auto module = AddPort(c.fault);
    EXPECT_EQ(Run({"/dev/ttyVX0"}, path), c.code) << c.fault;
    EXPECT_EQ(m_err.str(), std::string("/dev/ttyVX0: ") + c.text + "\n") << c.fault;
    EXPECT_EQ(m_out.str(), "") << c.fault;
    EXPECT_FALSE(module->open) << c.fault;
    EXPECT_EQ(module->module.FlashedImages().size(), c.flashed ? 1u : 0u) << c.fault;
    EXPECT_EQ(m_results[0].outcome, c.text);
  }
}

TEST_F(LoadSessionTest, PortThatCannotBeOpenedSaysWhy) {
  const std::string path = WriteImage(ImageOf(10));
  const struct {
    int32_t result;
    int osError;
    std::string device;
    std::string reason;
  } cases[] = {
      {kErrorFileNotFound, ENOENT, "", "No such file or directory; --list-ports shows the serial ports"},
      {kErrorAlreadyInitialized, 0, "", "result 1247"},
      {31, EIO, "", "Input/output error"},
  };
  for (const auto& c : cases) {
    m_states.clear();
    m_err.str("");
    auto module = AddPort();
    module->openResult = c.result;
    module->osError = c.osError;
    EXPECT_EQ(Run({"COM2"}, path), 4);
    EXPECT_EQ(m_err.str(), "COM2: Cannot open open COM2: " + c.reason + "\n");
    EXPECT_EQ(m_results[0].outcome, "Cannot open open COM2");
    EXPECT_FALSE(m_results[0].started);
  }
}

TEST_F(LoadSessionTest, PermissionDeniedNamesTheDevicesGroup) {
  const struct group* dialout = ::getgrnam("dialout");
  if (::geteuid() != 0 || dialout == nullptr) GTEST_SKIP() << "needs root and a dialout group";
  const std::string device = m_dir.Write("ttyVX0", "").string();
  ASSERT_EQ(::chown(device.c_str(), 0, dialout->gr_gid), 0);
  ASSERT_EQ(::chmod(device.c_str(), 0660), 0);
  auto module = AddPort();
  module->openResult = kErrorAccessDenied;
  module->osError = EACCES;
  module->device = device;
  EXPECT_EQ(Run({"COM1"}, WriteImage(ImageOf(10))), 4);
  EXPECT_EQ(m_err.str(), "COM1: Cannot open open COM1: Permission denied; " + device +
                             " belongs to group dialout; add yourself with: sudo usermod -aG "
                             "dialout $USER, then log in again\n");
}

TEST_F(LoadSessionTest, LineThatRefusesTheFormatIsClosed) {
  auto module = AddPort();
  module->lineFormatResult = 87;
  module->osError = EINVAL;
  EXPECT_EQ(Run({"COM1"}, WriteImage(ImageOf(10))), 4);
  EXPECT_EQ(m_err.str(), "COM1: Cannot switch to 57600, E, 8 2: Invalid argument\n");
  EXPECT_FALSE(module->open);
}

TEST_F(LoadSessionTest, ImageThatVanishedBeforeTheRunIsAnImageFileFailure) {
  AddPort();
  EXPECT_EQ(Run({"COM1"}, (m_dir.Path() / "gone.mbf").string()), 3);
  EXPECT_EQ(m_err.str(), "COM1: Unable to open file " + (m_dir.Path() / "gone.mbf").string() +
                             ": No such file or directory\n");
}

TEST_F(LoadSessionTest, FourPortsInParallelOneFailing) {
  const std::string image = ImageOf(1000);
  auto a = AddPort();
  auto b = AddPort();
  auto c = AddPort("noreply@3");
  auto d = AddPort();
  EXPECT_EQ(Run({"A", "B", "C", "D"}, WriteImage(image)), 6);
  EXPECT_EQ(m_out.str(), "A: MODULE LOADED\nB: MODULE LOADED\nD: MODULE LOADED\n");
  EXPECT_EQ(m_err.str(), "C: Module not responding\n");
  for (const auto& module : {a, b, d}) {
    ASSERT_EQ(module->module.FlashedImages().size(), 1u);
    EXPECT_EQ(module->module.FlashedImages()[0].size(), 1000u);
  }
  EXPECT_TRUE(c->module.FlashedImages().empty());
  ASSERT_EQ(m_results.size(), 4u);
  EXPECT_EQ(m_results[2].exitCode, 6);
  EXPECT_EQ(m_results[2].bytes, 64u);  // the first SEND was acknowledged, the second was not
  EXPECT_FALSE(m_results[2].loaded);
  for (size_t i : {0u, 1u, 3u}) EXPECT_TRUE(m_results[i].loaded) << i;
}

// One snapshot for the whole load: a file replaced while the first port's
// run starts changes nothing for the ports that start later.
TEST_F(LoadSessionTest, EveryPortSendsTheSameImageEvenIfTheFileIsReplaced) {
  const std::string image = ImageOf(300);
  const std::string path = WriteImage(image);
  auto a = AddPort();
  auto b = AddPort();
  bool replaced = false;
  const int code = Run({"A", "B"}, path, false, [&](const PortEvent& event) {
    if (event.kind != PortEventKind::Started || replaced) return;
    replaced = true;
    m_dir.Write("image.mbf.new", ImageOf(500).replace(0, 1, "X"));
    std::filesystem::rename(m_dir.Path() / "image.mbf.new", path);
  });
  EXPECT_EQ(code, 0) << m_err.str();
  EXPECT_TRUE(replaced);
  for (const auto& module : {a, b}) {
    ASSERT_EQ(module->module.FlashedImages().size(), 1u);
    EXPECT_EQ(std::string(module->module.FlashedImages()[0].begin(),
                          module->module.FlashedImages()[0].end()),
              image);
  }
}

TEST_F(LoadSessionTest, CtrlCClosesEveryPortAndEndsWith130) {
  auto a = AddPort("delay:60000@2");
  auto b = AddPort();
  bool raised = false;
  const int code = Run({"A", "B"}, WriteImage(ImageOf(300)), false, [&](const PortEvent& event) {
    if (event.port == 0 && event.kind == PortEventKind::Status && !raised) {
      raised = true;
      EXPECT_TRUE(a->open);
      ::raise(SIGINT);  // handled on the event loop: nothing happens here
      EXPECT_TRUE(a->open);
    }
  });
  EXPECT_EQ(code, 130);
  EXPECT_FALSE(a->open);
  EXPECT_FALSE(b->open);
  EXPECT_EQ(m_results[0].outcome, "interrupted");
  EXPECT_EQ(m_results[0].exitCode, 130);
  // The default action is back: the handler is only there while loading.
  struct sigaction now {};
  ::sigaction(SIGINT, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
}

TEST_F(LoadSessionTest, TraceShowsEveryFrameByteForByte) {
  AddPort();
  const std::string image = ImageOf(65);
  ASSERT_EQ(Run({"COM1"}, WriteImage(image), true), 0);
  std::istringstream lines(m_err.str());
  std::vector<std::string> frames;
  long long last = 0;
  for (std::string line; std::getline(lines, line);) {
    test::TraceRecord record;
    ASSERT_TRUE(test::ParseTraceLine(line, record)) << line;
    EXPECT_EQ(record.port, "COM1");
    EXPECT_GE(std::stoll(record.micros), last);  // monotonic
    last = std::stoll(record.micros);
    frames.push_back(record.direction + " " + record.name + " " + record.hex);
  }
  std::string send = "TX SEND B0 EF 66 40";
  for (size_t i = 0; i < 64; ++i) send += " " + HexBytes(reinterpret_cast<const uint8_t*>(&image[i]), 1);
  const std::vector<std::string> expected = {
      "TX CONNECT B0 EF 01 00",
      "RX CONNECT-REPLY B0 EF 00 01 00",
      "TX INIT B0 EF 55 02 AA 04",
      "RX ACK B0 EF AA 01 00",
      send,
      "RX ACK B0 EF AA 01 00",
      "TX SENDLAST B0 EF 66 01 " + HexBytes(reinterpret_cast<const uint8_t*>(&image[64]), 1),
      "RX ACK B0 EF AA 01 00",
      "TX FLASH B0 EF 55 09 55 02 03 04 05 06 07 08 01",
      "RX ACK B0 EF AA 01 00",
  };
  EXPECT_EQ(frames, expected);
}

}  // namespace
}  // namespace vexel::cli

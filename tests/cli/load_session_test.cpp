// Whole loads through the session and its runners, with in-process modules,
// on a clock that jumps: every connect's one-second probe window passes at
// once.
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

#include "cli/exit_codes.h"
#include "load_session_fixture.h"
#include "runner/frame_trace.h"
#include "text_fields.h"

namespace vexel::cli {
namespace {

using test::ImageOf;
using test::LoadSessionTest;

TEST_F(LoadSessionTest, OneModuleIsLoadedAndTheLineClosed) {
  const std::string image = ImageOf(200);
  auto module = AddPort("delay:100@1");  // INIT is answered after 100 ms
  EXPECT_EQ(Run({"COM1"}, WriteImage(image)), 0);
  EXPECT_EQ(m_out.str(), "COM1: MODULE LOADED\n");
  EXPECT_EQ(m_err.str(), "");
  ASSERT_EQ(module->module.FlashedImages().size(), 1u);
  EXPECT_EQ(std::string(module->module.FlashedImages()[0].begin(),
                        module->module.FlashedImages()[0].end()),
            image);
  EXPECT_EQ(module->baud, 57600u);
  EXPECT_EQ(module->parity, kParityEven);
  EXPECT_EQ(module->stopBits, kTwoStopBits);
  EXPECT_FALSE(module->open);
  EXPECT_EQ(module->closes, 1);

  ASSERT_EQ(m_results.size(), 1u);
  const PortSummary& row = m_results[0];
  EXPECT_TRUE(row.loaded);
  EXPECT_EQ(row.outcome, "MODULE LOADED");
  EXPECT_EQ(row.bytes, 200u);
  // INIT + ACK, three SEND of 68 + ACK, SENDLAST of 12 + ACK, FLASH + ACK.
  EXPECT_EQ(row.lineBytes, 11u + 3 * 73 + 17 + 18);
  EXPECT_NEAR(row.seconds, 0.1, 1e-9);  // INIT to the FLASH ACK: no probe window in it
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
      {"hangup@3", 9,
       "Connection lost: /dev/ttyVX0 went away (adapter unplugged or driver stopped)", false},
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

// The adapter is asked about once its port is open, and a port that cannot
// be opened is not asked at all.
TEST_F(LoadSessionTest, AnAdapterWarningIsShownOncePerOpenPort) {
  auto slow = AddPort();
  slow->adapterWarning = "the adapter's latency timer is 16 ms";
  auto missing = AddPort();
  missing->openResult = kErrorFileNotFound;
  missing->adapterWarning = "never asked";
  auto fine = AddPort();
  EXPECT_EQ(Run({"A", "B", "C"}, WriteImage(ImageOf(100))), 4);
  EXPECT_EQ(m_err.str(),
            "A: warning: the adapter's latency timer is 16 ms\nB: Cannot open open B: result 2\n");
  EXPECT_EQ(m_out.str(), "A: MODULE LOADED\nC: MODULE LOADED\n");
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

// Without its interrupts caught, Ctrl-C would end the load with its ports
// open: it opens nothing and prints nothing; the program says why.
TEST_F(LoadSessionTest, ALoadThatCannotCatchInterruptsOpensNothing) {
  auto module = AddPort();
  m_loopChoice.refuseInterrupts = true;
  EXPECT_EQ(Run({"COM1"}, WriteImage(ImageOf(10))), kExitInvalidResponse);
  EXPECT_TRUE(m_refused);
  EXPECT_EQ(module->opens, 0);
  EXPECT_EQ(m_out.str(), "");
  EXPECT_EQ(m_err.str(), "");
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
  for (size_t i = 0; i < 64; ++i)
    send += " " + HexBytes(reinterpret_cast<const uint8_t*>(&image[i]), 1);
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

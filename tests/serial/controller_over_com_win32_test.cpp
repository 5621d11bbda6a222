// The whole programming exchange on Windows: the real controller drives a
// real CSerialCWnd on a COM port that scripts/test-windows.sh maps to the
// Linux simulator's line (vexel-module-sim --json --out FILE), on real
// timers. What crossed the wire is read back from the simulator's event
// lines, and what it flashed from its --out file.
//   VEXEL_TEST_COM_SIM     the simulator's port (COM3)
//   VEXEL_TEST_SIM_EVENTS  its --json event output
//   VEXEL_TEST_SIM_IMAGE   its --out file
#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "protocol/image_file.h"
#include "protocol/programming_controller.h"
#include "serial/serial_wnd.h"
#include "support/real_time_host.h"
#include "support/temp_dir.h"
#include "test_frames.h"

namespace vexel {
namespace {

using Clock = std::chrono::steady_clock;
using sim::test::Bytes;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string Hex(const Bytes& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xF];
  }
  return text;
}

std::string ReadFile(const std::string& path, std::streamoff from = 0) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(from);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::streamoff FileSize(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  return in ? static_cast<std::streamoff>(in.tellg()) : 0;
}

// A string field of one of the simulator's JSON event lines. Its lines are
// flat objects whose string values (names, hex) hold no escapes.
std::string Field(const std::string& line, const std::string& name) {
  const std::string key = "\"" + name + "\":";
  const size_t at = line.find(key);
  if (at == std::string::npos) return "";
  size_t begin = at + key.size();
  if (line.compare(begin, 1, "\"") != 0) {
    return line.substr(begin, line.find_first_of(",}", begin) - begin);  // a number
  }
  ++begin;
  return line.substr(begin, line.find('"', begin) - begin);
}

// What the simulator reported since a point in its event output.
struct WireRecord {
  std::vector<std::string> requests;  // frames received, as hex
  std::vector<std::string> images;    // lengths of the images flashed
  std::vector<std::string> violations;
  std::string lines;  // the event lines themselves, for failure messages
};

WireRecord ReadWire(const std::string& path, std::streamoff from) {
  WireRecord record;
  const std::string text = ReadFile(path, from);
  record.lines = text;
  for (size_t begin = 0, end; (end = text.find('\n', begin)) != std::string::npos;
       begin = end + 1) {
    const std::string line = text.substr(begin, end - begin);
    const std::string event = Field(line, "event");
    if (event == "request") record.requests.push_back(Field(line, "frame"));
    if (event == "image") record.images.push_back(Field(line, "length"));
    if (event == "violation") record.violations.push_back(Field(line, "text"));
  }
  return record;
}

// The line the controller drives, noting when it was opened.
class TimedLine final : public CSerialCWnd {
 public:
  using CSerialCWnd::Open;
  int32_t Open(const char* portName, ComNotifyTarget* window, uint32_t message, intptr_t lParam,
               uint32_t rxQueue, uint32_t txQueue) override {
    m_openedAt = Clock::now();
    return CSerialCWnd::Open(portName, window, message, lParam, rxQueue, txQueue);
  }
  Clock::time_point OpenedAt() const { return m_openedAt; }

 private:
  Clock::time_point m_openedAt{};
};

// The progress a run of @p length bytes shows: its range, then the bytes
// acknowledged before each further chunk, then the close.
std::vector<std::string> ProgressOf(size_t length) {
  std::vector<std::string> progress{"open " + std::to_string(length)};
  for (size_t sent = 64; sent < length; sent += 64) progress.push_back(std::to_string(sent));
  progress.push_back("close");
  return progress;
}

class ControllerOverComTest : public ::testing::TestWithParam<size_t> {
 protected:
  void SetUp() override {
    m_port = Env("VEXEL_TEST_COM_SIM");
    m_events = Env("VEXEL_TEST_SIM_EVENTS");
    m_flashed = Env("VEXEL_TEST_SIM_IMAGE");
    if (m_port.empty() || m_events.empty() || m_flashed.empty()) {
      GTEST_SKIP() << "no simulator line (VEXEL_TEST_COM_SIM, VEXEL_TEST_SIM_EVENTS, "
                      "VEXEL_TEST_SIM_IMAGE; scripts/test-windows.sh sets them)";
    }
    m_host = std::make_unique<test::RealTimeHost>(m_port);
    m_controller = std::make_unique<ProgrammingController>(m_line, m_image, *m_host);
    m_host->Attach(*m_controller);
  }

  void TearDown() override { m_line.Close(); }  // before the host, its target, goes

  std::string m_port;
  std::string m_events;
  std::string m_flashed;
  TimedLine m_line;
  SnapshotImageFile m_image;
  std::unique_ptr<test::RealTimeHost> m_host;
  std::unique_ptr<ProgrammingController> m_controller;
};

TEST_P(ControllerOverComTest, ConnectsAndLoadsTheImageByteExactWithExactFrames) {
  const Bytes image = sim::test::Pattern(GetParam());
  const test::TempDir dir;
  const std::string file = dir.File("image.mbf", image);
  ::DeleteFileA(m_flashed.c_str());
  const std::streamoff eventsBefore = FileSize(m_events);

  m_controller->ToggleConnection();
  ASSERT_TRUE(m_host->RunUntil(
      [this] { return m_controller->IsConnected() || !m_host->Messages().empty(); }));
  ASSERT_TRUE(m_controller->IsConnected()) << ::testing::PrintToString(m_host->Messages());
  EXPECT_EQ(m_host->Status(), "CONNECTED");
  EXPECT_GE(m_host->ConnectedAt() - m_line.OpenedAt(), std::chrono::milliseconds(kConnectWindowMs))
      << "the probe window is kept from Open to CONNECTED";

  m_controller->StartRun(file);
  ASSERT_TRUE(m_host->RunUntil([this] { return !m_controller->IsRunning(); }));
  EXPECT_EQ(m_host->Messages(), std::vector<std::string>{})
      << ReadWire(m_events, eventsBefore).lines;
  EXPECT_EQ(m_host->Status(), "MODULE LOADED");
  EXPECT_EQ(m_host->Progress(), ProgressOf(image.size()));
  m_controller->ToggleConnection();
  EXPECT_EQ(m_host->Status(), "NOT CONNECTED");
  EXPECT_FALSE(m_line.IsOpen());

  std::vector<std::string> expected{Hex(sim::test::kConnect), Hex(sim::test::kInit)};
  for (const Bytes& chunk : sim::test::ChunksOf(image)) expected.push_back(Hex(chunk));
  expected.push_back(Hex(sim::test::kFlash));
  const WireRecord wire = ReadWire(m_events, eventsBefore);
  EXPECT_EQ(wire.requests.size(), expected.size()) << "the simulator's events:\n" << wire.lines;
  for (size_t i = 0; i < std::min(wire.requests.size(), expected.size()); ++i) {
    ASSERT_EQ(wire.requests[i], expected[i]) << "request " << i;
  }
  EXPECT_EQ(wire.images, std::vector<std::string>{std::to_string(image.size())});
  EXPECT_EQ(wire.violations, std::vector<std::string>{});
  const std::string flashed = ReadFile(m_flashed);
  EXPECT_EQ(flashed.size(), image.size());
  EXPECT_TRUE(flashed == std::string(image.begin(), image.end())) << "flashed byte for byte";
}

// Empty, one full chunk, one byte over, and many chunks with a short last one.
INSTANTIATE_TEST_SUITE_P(Lengths, ControllerOverComTest,
                         ::testing::Values(size_t{0}, size_t{64}, size_t{65}, size_t{3000}),
                         [](const ::testing::TestParamInfo<size_t>& length) {
                           return "Bytes" + std::to_string(length.param);
                         });

}  // namespace
}  // namespace vexel

// The whole programming exchange over a real pseudo-terminal: the real
// controller drives a real CSerialCWnd, and the simulator core answers on the
// pty's master side from a thread of its own. Real timers, real lengths: these
// tests take seconds, so they are few.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "protocol/programming_controller.h"
#include "serial/serial_wnd.h"
#include "sim/module_simulator.h"
#include "support/pty.h"
#include "support/real_time_host.h"
#include "support/temp_dir.h"

namespace vexel {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The module: a simulator core serving the master side. The test holds the
// slave open too, so the master never sees a hang-up between connections.
class ModuleOnPty {
 public:
  ModuleOnPty(test::PtyPair& pty, const std::vector<sim::Fault>& faults) : m_pty(pty) {
    for (const sim::Fault& fault : faults) m_sim.AddFault(fault);
    m_keeper = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    m_stop = ::eventfd(0, EFD_CLOEXEC);
    m_thread = std::thread(&ModuleOnPty::Serve, this);
  }
  ~ModuleOnPty() {
    Stop();
    ::close(m_stop);
    ::close(m_keeper);
  }

  /// Stops the module; its records can be read afterwards.
  void Stop() {
    if (!m_thread.joinable()) return;
    const uint64_t one = 1;
    EXPECT_EQ(::write(m_stop, &one, sizeof one), static_cast<ssize_t>(sizeof one));
    m_thread.join();
  }
  const sim::ModuleSimulator& Simulator() const { return m_sim; }

 private:
  // Waits for the master to be readable or the stop request; false on stop.
  // With @p readable null it waits out @p timeoutMs (the module's reply delay).
  bool WaitFor(bool* readable, int timeoutMs) {
    pollfd fds[2] = {{m_stop, POLLIN, 0}, {m_pty.MasterFd(), POLLIN, 0}};
    const int n = ::poll(fds, readable != nullptr ? 2 : 1, timeoutMs);
    if (n > 0 && (fds[0].revents & POLLIN) != 0) return false;
    if (readable != nullptr) *readable = n > 0 && (fds[1].revents & POLLIN) != 0;
    return true;
  }

  void Serve() {
    bool readable = false;
    while (WaitFor(&readable, -1)) {
      uint8_t bytes[512];
      const ssize_t n = readable ? ::read(m_pty.MasterFd(), bytes, sizeof bytes) : 0;
      if (n <= 0) continue;
      for (const sim::Delivery& d : m_sim.Consume(bytes, static_cast<size_t>(n))) {
        if (d.delayMs != 0 && !WaitFor(nullptr, static_cast<int>(d.delayMs))) return;
        if (!d.hangUp) m_pty.Send(std::string(d.bytes.begin(), d.bytes.end()));
      }
    }
  }

  test::PtyPair& m_pty;
  sim::ModuleSimulator m_sim;
  int m_keeper = -1;
  int m_stop = -1;
  std::thread m_thread;
};

// Image bytes that differ from chunk to chunk.
std::vector<uint8_t> ImageBytes(size_t length) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < length; ++i) bytes.push_back(static_cast<uint8_t>(i * 7 + 3));
  return bytes;
}

class ControllerOverPtyTest : public ::testing::Test {
 protected:
  void Start(const std::vector<sim::Fault>& faults) {
    ASSERT_TRUE(m_pty.IsOpen());
    m_module = std::make_unique<ModuleOnPty>(m_pty, faults);
    m_host = std::make_unique<test::RealTimeHost>(m_pty.SlavePath());
    m_line = std::make_unique<CSerialCWnd>();
    m_controller = std::make_unique<ProgrammingController>(*m_line, m_image, *m_host);
    m_host->Attach(*m_controller);
  }

  // Connect: the module's reply comes at once, the connection only when the
  // one-second probe window ends.
  void Connect() {
    const auto start = Clock::now();
    m_controller->ToggleConnection();
    ASSERT_TRUE(m_host->RunUntil(
        [this] { return m_controller->IsConnected() || !m_host->Messages().empty(); }));
    EXPECT_TRUE(m_controller->IsConnected());
    EXPECT_EQ(m_host->Status(), "CONNECTED");
    EXPECT_GE(Clock::now() - start, milliseconds(kConnectWindowMs));
  }

  void TearDown() override {
    m_controller.reset();
    m_line.reset();  // stops the watcher before its target goes
    m_host.reset();
    m_module.reset();
  }

  test::PtyPair m_pty;
  SnapshotImageFile m_image;
  std::unique_ptr<ModuleOnPty> m_module;
  std::unique_ptr<test::RealTimeHost> m_host;
  std::unique_ptr<CSerialCWnd> m_line;
  std::unique_ptr<ProgrammingController> m_controller;
};

TEST_F(ControllerOverPtyTest, ConnectsAndLoadsA200ByteImage) {
  Start({});
  Connect();
  const test::TempDir dir;
  const std::vector<uint8_t> image = ImageBytes(200);
  m_controller->StartRun(dir.File("image.mbf", image));
  ASSERT_TRUE(m_host->RunUntil([this] { return !m_controller->IsRunning(); }));

  EXPECT_TRUE(m_host->Messages().empty());
  EXPECT_EQ(m_host->Status(), "MODULE LOADED");
  EXPECT_EQ(m_host->Progress(),
            (std::vector<std::string>{"open 200", "64", "128", "192", "close"}));
  EXPECT_TRUE(m_controller->IsConnected());
  m_module->Stop();
  ASSERT_EQ(m_module->Simulator().FlashedImages().size(), 1u);
  EXPECT_EQ(m_module->Simulator().FlashedImages()[0], image);
  EXPECT_TRUE(m_module->Simulator().Violations().empty());

  m_controller->ToggleConnection();
  EXPECT_EQ(m_host->Status(), "NOT CONNECTED");
  EXPECT_FALSE(m_line->IsOpen());
}

TEST_F(ControllerOverPtyTest, SilenceAtADataStepFailsAfterTheChunkReplyTime) {
  Start({sim::Fault{sim::FaultKind::NoReply, 2, 0, false}});
  Connect();
  const test::TempDir dir;
  const auto start = Clock::now();
  m_controller->StartRun(dir.File("image.mbf", ImageBytes(200)));
  ASSERT_TRUE(m_host->RunUntil([this] { return !m_controller->IsRunning(); }));

  EXPECT_EQ(m_host->Messages(), std::vector<std::string>{"Module not responding"});
  EXPECT_EQ(m_controller->LastFailure(), Failure::NotResponding);
  EXPECT_GE(Clock::now() - start, milliseconds(kChunkReplyMs));
  EXPECT_FALSE(m_controller->IsConnected());
  EXPECT_EQ(m_host->Status(), "NOT CONNECTED");
  EXPECT_FALSE(m_line->IsOpen()) << "the failure closed the line";
  m_module->Stop();
  EXPECT_TRUE(m_module->Simulator().FlashedImages().empty());
}

}  // namespace
}  // namespace vexel

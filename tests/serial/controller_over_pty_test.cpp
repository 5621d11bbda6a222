// The whole programming exchange over a real pseudo-terminal: the real
// controller drives a real CSerialCWnd, and the simulator core answers on the
// pty's master side from a thread of its own. Real timers, real lengths: these
// tests take seconds, so they are few.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "protocol/programming_controller.h"
#include "pty_fixture.h"
#include "serial/serial_wnd.h"
#include "sim/module_simulator.h"

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

// A host with real repeating timers and a queue for the watcher's
// notifications, dispatched on the test thread like a window system would.
class PtyHost final : public ControllerHost, public ComNotifyTarget {
 public:
  explicit PtyHost(std::string portPath) : m_portPath(std::move(portPath)) {}
  void Attach(ProgrammingController& controller) { m_controller = &controller; }

  bool RunUntil(const std::function<bool()>& done, milliseconds limit = milliseconds(30000)) {
    const auto giveUp = Clock::now() + limit;
    while (!done()) {
      if (Clock::now() >= giveUp) return false;
      for (uint32_t wParam : TakeNotifications(std::min(giveUp, NextTimerDue()))) {
        m_controller->HandleLineEvent(wParam & 0xFFFF);
      }
      FireDueTimers();
    }
    return true;
  }

  std::vector<std::string> m_messages;
  std::vector<std::string> m_progress;
  std::string m_status;

  int GetPortChoice() override { return 1; }
  std::string GetPortName() override { return m_portPath; }
  void ShowConnected() override { m_status = text::kConnected; }
  void ShowDisconnected() override { m_status = text::kNotConnected; }
  void ShowStatus(const std::string& text) override { m_status = text; }
  void ShowMessage(const std::string& text) override { m_messages.push_back(text); }
  void StartTimer(uint32_t id, uint32_t ms) override {
    m_timers[id] = {milliseconds(ms), Clock::now() + milliseconds(ms)};
  }
  void StopTimer(uint32_t id) override { m_timers.erase(id); }
  void OpenProgress(uint32_t range) override { m_progress.push_back("open " + std::to_string(range)); }
  void SetProgress(uint32_t position) override { m_progress.push_back(std::to_string(position)); }
  void CloseProgress() override { m_progress.push_back("close"); }
  ComNotifyTarget* NotificationTarget() override { return this; }

  void PostComMessage(uint32_t message, uint32_t wParam, intptr_t) override {
    std::lock_guard<std::mutex> guard(m_lock);
    if (message == DefaultComMessage) m_queue.push_back(wParam);
    m_arrived.notify_all();
  }

 private:
  struct Timer {
    milliseconds interval;
    Clock::time_point due;
  };

  Clock::time_point NextTimerDue() const {
    auto next = Clock::time_point::max();
    for (const auto& [id, timer] : m_timers) next = std::min(next, timer.due);
    return next;
  }

  std::deque<uint32_t> TakeNotifications(Clock::time_point until) {
    std::unique_lock<std::mutex> lock(m_lock);
    m_arrived.wait_until(lock, until, [this] { return !m_queue.empty(); });
    return std::exchange(m_queue, {});
  }

  // Timers repeat until stopped; the controller stops each one first.
  void FireDueTimers() {
    std::vector<uint32_t> due;
    for (const auto& [id, timer] : m_timers) {
      if (timer.due <= Clock::now()) due.push_back(id);
    }
    for (uint32_t id : due) {
      auto found = m_timers.find(id);
      if (found == m_timers.end()) continue;
      found->second.due += found->second.interval;
      m_controller->HandleTimer(id);
    }
  }

  std::string m_portPath;
  ProgrammingController* m_controller = nullptr;
  std::map<uint32_t, Timer> m_timers;
  std::mutex m_lock;
  std::condition_variable m_arrived;
  std::deque<uint32_t> m_queue;
};

class ImageOnDisk {
 public:
  explicit ImageOnDisk(size_t length) {
    for (size_t i = 0; i < length; ++i) m_bytes.push_back(static_cast<uint8_t>(i * 7 + 3));
    char path[] = "/tmp/vexel-image-XXXXXX";
    const int fd = ::mkstemp(path);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::write(fd, m_bytes.data(), m_bytes.size()), static_cast<ssize_t>(length));
    ::close(fd);
    m_path = path;
  }
  ~ImageOnDisk() { std::remove(m_path.c_str()); }
  const std::string& Path() const { return m_path; }
  const std::vector<uint8_t>& Bytes() const { return m_bytes; }

 private:
  std::vector<uint8_t> m_bytes;
  std::string m_path;
};

class ControllerOverPtyTest : public ::testing::Test {
 protected:
  void Start(const std::vector<sim::Fault>& faults) {
    ASSERT_TRUE(m_pty.IsOpen());
    m_module = std::make_unique<ModuleOnPty>(m_pty, faults);
    m_host = std::make_unique<PtyHost>(m_pty.SlavePath());
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
        [this] { return m_controller->IsConnected() || !m_host->m_messages.empty(); }));
    EXPECT_TRUE(m_controller->IsConnected());
    EXPECT_EQ(m_host->m_status, "CONNECTED");
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
  std::unique_ptr<PtyHost> m_host;
  std::unique_ptr<CSerialCWnd> m_line;
  std::unique_ptr<ProgrammingController> m_controller;
};

TEST_F(ControllerOverPtyTest, ConnectsAndLoadsA200ByteImage) {
  Start({});
  Connect();
  ImageOnDisk image(200);
  m_controller->StartRun(image.Path());
  ASSERT_TRUE(m_host->RunUntil([this] { return !m_controller->IsRunning(); }));

  EXPECT_TRUE(m_host->m_messages.empty());
  EXPECT_EQ(m_host->m_status, "MODULE LOADED");
  EXPECT_EQ(m_host->m_progress,
            (std::vector<std::string>{"open 200", "64", "128", "192", "close"}));
  EXPECT_TRUE(m_controller->IsConnected());
  m_module->Stop();
  ASSERT_EQ(m_module->Simulator().FlashedImages().size(), 1u);
  EXPECT_EQ(m_module->Simulator().FlashedImages()[0], image.Bytes());
  EXPECT_TRUE(m_module->Simulator().Violations().empty());

  m_controller->ToggleConnection();
  EXPECT_EQ(m_host->m_status, "NOT CONNECTED");
  EXPECT_FALSE(m_line->IsOpen());
}

TEST_F(ControllerOverPtyTest, SilenceAtADataStepFailsAfterTheChunkReplyTime) {
  Start({sim::Fault{sim::FaultKind::NoReply, 2, 0, false}});
  Connect();
  ImageOnDisk image(200);
  const auto start = Clock::now();
  m_controller->StartRun(image.Path());
  ASSERT_TRUE(m_host->RunUntil([this] { return !m_controller->IsRunning(); }));

  EXPECT_EQ(m_host->m_messages, std::vector<std::string>{"Module not responding"});
  EXPECT_EQ(m_controller->LastFailure(), Failure::NotResponding);
  EXPECT_GE(Clock::now() - start, milliseconds(kChunkReplyMs));
  EXPECT_FALSE(m_controller->IsConnected());
  EXPECT_EQ(m_host->m_status, "NOT CONNECTED");
  EXPECT_FALSE(m_line->IsOpen()) << "the failure closed the line";
  m_module->Stop();
  EXPECT_TRUE(m_module->Simulator().FlashedImages().empty());
}

}  // namespace
}  // namespace vexel

// What the port does with answers a pseudo-terminal never gives, through
// stand-ins for the tty calls: a driver with a latency setting, one that
// refuses it, and a device that goes away with reads, writes or requests
// failing (EIO, ENODEV) before any hang-up is seen.
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <ostream>
#include <string>
#include <vector>

#include "notify_queue.h"
#include "serial/serial_loop_line.h"
#include "serial/serial_wnd.h"
#include "support/pty.h"
#include "tty_calls_posix.h"

namespace vexel {
namespace {

using test::PtyPair;

constexpr uint32_t kQueue = 2048;
constexpr int kDeadlineMs = 10000;

// The driver behind the stand-in calls; one per test, reached from the calls.
struct FakeDriver {
  // Serial info: the flags the driver holds, or the errno of a refusal.
  int serialFlags = 0;
  int getError = ENOTTY;
  int setError = 0;
  std::vector<int> flagsSet;  // every TIOCSSERIAL's flags, in order
  // Failures of the device once it is gone: errno, or -1 for end of file.
  // A watcher thread reads them while the test sets them.
  std::atomic<int> readError{0};
  std::atomic<int> writeError{0};
  std::atomic<int> countersError{ENOTTY};  // a pty has no line error counters
};

FakeDriver* g_driver = nullptr;

ssize_t FakeRead(int fd, void* buffer, size_t length) {
  const int error = g_driver->readError;
  if (error == 0) return comm::SystemTtyCalls().read(fd, buffer, length);
  if (error < 0) return 0;
  errno = error;
  return -1;
}

ssize_t FakeWrite(int fd, const void* data, size_t length) {
  if (g_driver->writeError == 0) return comm::SystemTtyCalls().write(fd, data, length);
  errno = g_driver->writeError;
  return -1;
}

int Refuse(int error) {
  if (error == 0) return 0;
  errno = error;
  return -1;
}

int FakeIoctl(int fd, unsigned long request, void* argument) {
  if (request == TIOCGSERIAL) {
    if (g_driver->getError == 0)
      static_cast<serial_struct*>(argument)->flags = g_driver->serialFlags;
    return Refuse(g_driver->getError);
  }
  if (request == TIOCSSERIAL) {
    if (g_driver->setError != 0) return Refuse(g_driver->setError);
    g_driver->serialFlags = static_cast<serial_struct*>(argument)->flags;
    g_driver->flagsSet.push_back(g_driver->serialFlags);
    return 0;
  }
  if (request == TIOCGICOUNT) {
    if (g_driver->countersError == 0) *static_cast<serial_icounter_struct*>(argument) = {};
    return Refuse(g_driver->countersError);
  }
  return comm::SystemTtyCalls().ioctl(fd, request, argument);
}

class TtyFaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_pty.IsOpen());
    g_driver = &m_driver;
    comm::Tty() = {FakeRead, FakeWrite, FakeIoctl};
  }
  void TearDown() override {
    comm::Tty() = comm::SystemTtyCalls();
    g_driver = nullptr;
  }

  FakeDriver m_driver;
  PtyPair m_pty;
};

// ---- Low latency ----------------------------------------------------------

constexpr int kOtherFlag = ASYNC_SPD_HI;  // a flag of the driver's that must stay as it is

struct LatencyCase {
  const char* name;
  int flagsFound;
  int getError;
  int setError;
  std::vector<int> setsWhileOpen;  // TIOCSSERIAL flags from Open
  std::vector<int> setsByClose;    // and from Close
};

void PrintTo(const LatencyCase& c, std::ostream* os) { *os << c.name; }

class LowLatency : public TtyFaultsTest, public ::testing::WithParamInterface<LatencyCase> {};

TEST_P(LowLatency, AskedAtOpenGivenBackAtCloseAndARefusalNeverFailsTheOpen) {
  const LatencyCase& c = GetParam();
  m_driver.serialFlags = c.flagsFound;
  m_driver.getError = c.getError;
  m_driver.setError = c.setError;
  CSerialPort port;
  ASSERT_EQ(port.Open(m_pty.SlavePath().c_str(), kQueue, kQueue), kResultOk);
  EXPECT_EQ(m_driver.flagsSet, c.setsWhileOpen);
  uint32_t count = 0;
  EXPECT_EQ(port.Write("ok", 2, &count, nullptr, 1000), kResultOk) << "the line works";
  m_driver.flagsSet.clear();
  EXPECT_EQ(port.Close(), kResultOk);
  EXPECT_EQ(m_driver.flagsSet, c.setsByClose);
}

const LatencyCase kLatencyCases[] = {
    {"FlagClearIsSetThenCleared", kOtherFlag, 0, 0, {kOtherFlag | ASYNC_LOW_LATENCY}, {kOtherFlag}},
    {"FlagAlreadySetIsLeftAlone", kOtherFlag | ASYNC_LOW_LATENCY, 0, 0, {}, {}},
    {"NoSerialInfoENOTTY", 0, ENOTTY, 0, {}, {}},
    {"NoSerialInfoEINVAL", 0, EINVAL, 0, {}, {}},
    {"SetRefusedEOPNOTSUPP", 0, 0, EOPNOTSUPP, {}, {}},
    {"SetRefusedEINVAL", 0, 0, EINVAL, {}, {}},
    {"SetRefusedEPERM", 0, 0, EPERM, {}, {}},
};

INSTANTIATE_TEST_SUITE_P(Drivers, LowLatency, ::testing::ValuesIn(kLatencyCases),
                         [](const auto& p) { return std::string(p.param.name); });

// ---- A device that goes away ----------------------------------------------

// The owner's loop: polls the one handle the line gives it.
class OneHandleLoop final : public LineEventLoop {
 public:
  int WatchLine(intptr_t handle, CSerialLoopLine& line) override {
    m_handle = handle;
    m_line = &line;
    return 0;
  }
  void UnwatchLine(intptr_t) override { m_handle = -1; }
  // What Service reports once the handle is signalled; 0xDEAD when it is not.
  uint32_t ServiceWhenSignalled() {
    if (m_handle < 0 || !SerialEventReady(m_handle)) return 0xDEAD;
    return m_line->Service();
  }

 private:
  static bool SerialEventReady(intptr_t handle) {
    pollfd p{static_cast<int>(handle), POLLIN, 0};
    return ::poll(&p, 1, kDeadlineMs) == 1;
  }
  intptr_t m_handle = -1;
  CSerialLoopLine* m_line = nullptr;
};

enum class FailingCall { Read, Write, Counters };

struct GoneCase {
  const char* name;
  FailingCall call;
  int error;  // -1: end of file
};

void PrintTo(const GoneCase& c, std::ostream* os) { *os << c.name; }

class DeviceGone : public TtyFaultsTest, public ::testing::WithParamInterface<GoneCase> {
 protected:
  // Makes the call of the case fail, then makes the owner use it.
  void FailAndUse(CSerialPort& line) {
    const GoneCase& c = GetParam();
    char buffer[8];
    uint32_t count = 0;
    switch (c.call) {
      case FailingCall::Read:
        m_driver.readError = c.error;
        EXPECT_NE(line.Read(buffer, sizeof buffer, &count, nullptr, 0), kResultOk);
        break;
      case FailingCall::Write:
        m_driver.writeError = c.error;
        EXPECT_NE(line.Write("x", 1, &count, nullptr, 1000), kResultOk);
        break;
      case FailingCall::Counters:
        m_driver.countersError = c.error;
        ASSERT_TRUE(m_pty.Send("x"));  // the next wait looks at the counters
        break;
    }
  }
};

TEST_P(DeviceGone, TheLoopLineReportsTheLossOnceAndStopsWatching) {
  if (GetParam().call == FailingCall::Counters) m_driver.countersError = 0;
  OneHandleLoop loop;
  CSerialLoopLine line(&loop);
  ASSERT_EQ(line.Open(m_pty.SlavePath().c_str(), nullptr, 0, 0, kQueue, kQueue), kResultOk);
  ASSERT_TRUE(m_pty.Send("a"));
  ASSERT_EQ(loop.ServiceWhenSignalled(), kEventRxChar) << "the line lives";
  FailAndUse(line);
  // What the last wait brought may come with it.
  EXPECT_EQ(loop.ServiceWhenSignalled() & kEventLineLost, kEventLineLost) << "at once";
  EXPECT_FALSE(line.Watched());
  EXPECT_EQ(line.Close(), kResultOk);
}

TEST_P(DeviceGone, TheWatcherPostsTheLossOnceAndEnds) {
  if (GetParam().call == FailingCall::Counters) m_driver.countersError = 0;
  test::NotifyQueue queue;
  CSerialWnd line;
  ASSERT_EQ(line.Open(m_pty.SlavePath().c_str(), &queue, 0, 0, kQueue, kQueue), kResultOk);
  ASSERT_TRUE(m_pty.Send("a"));
  auto first = queue.Next();
  ASSERT_TRUE(first.has_value());
  ASSERT_EQ(first->wParam & 0xFFFF, kEventRxChar) << "the line lives";
  FailAndUse(line);
  // An arrival the last wait saw may come first.
  auto lost = queue.Next();
  if (lost.has_value() && lost->wParam != kEventLineLost) lost = queue.Next();
  ASSERT_TRUE(lost.has_value()) << "the loss is posted at once";
  EXPECT_EQ(lost->wParam, kEventLineLost);
  EXPECT_EQ(line.Close(), kResultOk);
  EXPECT_EQ(queue.Size(), 0u) << "once";
}

const GoneCase kGoneCases[] = {
    {"ReadFailsEIO", FailingCall::Read, EIO},
    {"ReadFailsENODEV", FailingCall::Read, ENODEV},
    {"ReadFindsEndOfFile", FailingCall::Read, -1},
    {"WriteFailsEIO", FailingCall::Write, EIO},
    {"WriteFailsENODEV", FailingCall::Write, ENODEV},
    {"CountersFailENODEV", FailingCall::Counters, ENODEV},
    {"CountersFailEIO", FailingCall::Counters, EIO},
};

INSTANTIATE_TEST_SUITE_P(Failures, DeviceGone, ::testing::ValuesIn(kGoneCases),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace vexel

// CSerialLoopLine over real pseudo-terminals, serviced by a minimal poll()
// loop: what Service reports, when the loop is told to watch and to stop, and
// that a hang-up ends the watch instead of leaving a handle that polls ready
// for ever.
#include <cerrno>
#include <fcntl.h>
#include <poll.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/serial_loop_line.h"
#include "support/proc_scan.h"
#include "support/pty.h"

namespace vexel {
namespace {

using test::PtyPair;

constexpr uint32_t kQueue = 2048;
constexpr int kDeadlineMs = 10000;

// The owner's side: records the watch calls and polls the watched handle.
class PollLoop final : public LineEventLoop {
 public:
  int WatchLine(intptr_t handle, CSerialLoopLine& line) override {
    calls.push_back("watch");
    if (refuseWith != 0) return refuseWith;
    m_handle = handle;
    m_line = &line;
    return 0;
  }
  void UnwatchLine(intptr_t handle) override {
    // The handle must still be open when the loop is told to let it go.
    calls.push_back(::fcntl(static_cast<int>(handle), F_GETFD) >= 0 ? "unwatch" : "unwatch-closed");
    EXPECT_EQ(handle, m_handle);
    m_handle = -1;
  }

  // Waits for the handle for up to timeoutMs; true when it is signalled.
  bool Signalled(int timeoutMs) const {
    if (m_handle < 0) return false;
    pollfd p{static_cast<int>(m_handle), POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) == 1;
  }
  // What the loop does when the handle is signalled.
  uint32_t ServiceWhenSignalled() {
    if (!Signalled(kDeadlineMs)) return 0xDEAD;
    return m_line->Service();
  }

  std::vector<std::string> calls;
  int refuseWith = 0;  // errno WatchLine answers with

 private:
  intptr_t m_handle = -1;
  CSerialLoopLine* m_line = nullptr;
};

class SerialLoopLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_pty.IsOpen());
    m_threadsBefore = test::ThreadCount();
    m_fdsBefore = test::OpenFdCount();
  }

  int32_t Open() { return m_line.Open(m_pty.SlavePath().c_str(), nullptr, 0, 0, kQueue, kQueue); }

  std::string ReadAll() {
    std::string bytes(64, '\0');
    uint32_t count = 0;
    EXPECT_EQ(m_line.Read(bytes.data(), 64, &count, nullptr, 0), kResultOk);
    bytes.resize(count);
    return bytes;
  }

  PtyPair m_pty;
  PollLoop m_loop;
  CSerialLoopLine m_line{&m_loop};
  int m_threadsBefore = 0;
  int m_fdsBefore = 0;
};

TEST_F(SerialLoopLineTest, OpenWatchesWithoutAThreadAndCloseUnwatchesBeforeClosing) {
  ASSERT_EQ(Open(), kResultOk);
  EXPECT_TRUE(m_line.Watched());
  EXPECT_EQ(test::ThreadCount(), m_threadsBefore);
  EXPECT_EQ(m_line.Close(), kResultOk);
  EXPECT_FALSE(m_line.Watched());
  EXPECT_EQ(m_loop.calls, (std::vector<std::string>{"watch", "unwatch"}));
  EXPECT_EQ(test::OpenFdCount(), m_fdsBefore);
  EXPECT_EQ(m_line.Close(), kResultOk) << "closing a closed line is fine";
  EXPECT_EQ(m_loop.calls.size(), 2u);
}

TEST_F(SerialLoopLineTest, OpenRefusedWithoutLoopOrTwiceOrOnAMissingDevice) {
  CSerialLoopLine orphan;
  EXPECT_EQ(orphan.Open(m_pty.SlavePath().c_str(), nullptr, 0, 0, kQueue, kQueue),
            kErrorInvalidParameter);
  EXPECT_FALSE(orphan.IsOpen());

  CSerialLoopLine missing(&m_loop);
  EXPECT_EQ(missing.Open("/dev/vexel-no-such-port", nullptr, 0, 0, kQueue, kQueue),
            kErrorFileNotFound);
  EXPECT_FALSE(missing.IsOpen());
  EXPECT_TRUE(m_loop.calls.empty());

  ASSERT_EQ(Open(), kResultOk);
  EXPECT_EQ(Open(), kErrorAlreadyInitialized);
  EXPECT_EQ(m_loop.calls, (std::vector<std::string>{"watch"}));
  EXPECT_EQ(test::OpenFdCount(), m_fdsBefore + 5) << "the line, and two for each of two events";
}

TEST_F(SerialLoopLineTest, ALoopThatCannotWatchFailsTheOpenAndLeavesNothingOpen) {
  m_loop.refuseWith = EMFILE;
  EXPECT_EQ(Open(), kErrorTooManyOpenFiles);
  EXPECT_EQ(m_line.LastOsError(), EMFILE);
  EXPECT_FALSE(m_line.IsOpen());
  EXPECT_FALSE(m_line.Watched());
  EXPECT_EQ(m_loop.calls, (std::vector<std::string>{"watch"})) << "nothing to unwatch";
  EXPECT_EQ(test::OpenFdCount(), m_fdsBefore);
  m_loop.refuseWith = 0;
  EXPECT_EQ(Open(), kResultOk) << "a later open works";
}

// Unread bytes keep a tty readable; the handle is still signalled once per
// arrival, so a loop that has not read yet is not woken again and again.
TEST_F(SerialLoopLineTest, EachArrivalSignalsOnceAndServiceReportsItsEvent) {
  ASSERT_EQ(Open(), kResultOk);
  EXPECT_FALSE(m_loop.Signalled(0));
  for (const char* bytes : {"1", "22", "333"}) {
    ASSERT_TRUE(m_pty.Send(bytes));
    EXPECT_EQ(m_loop.ServiceWhenSignalled(), kEventRxChar) << bytes;
    EXPECT_FALSE(m_loop.Signalled(0)) << "serviced: quiet until the next arrival";
  }
  EXPECT_EQ(ReadAll(), "122333");
  EXPECT_EQ(m_line.Service(), 0u) << "nothing signalled: nothing to report";
  EXPECT_TRUE(m_line.Watched());
}

TEST_F(SerialLoopLineTest, MaskChangeCompletesTheWaitWithNothingToReportAndWatchGoesOn) {
  ASSERT_EQ(Open(), kResultOk);
  ASSERT_EQ(m_line.SetEventMask(kEventRxChar), kResultOk);
  EXPECT_EQ(m_loop.ServiceWhenSignalled(), 0u);
  EXPECT_TRUE(m_line.Watched());
  ASSERT_TRUE(m_pty.Send("x"));
  EXPECT_EQ(m_loop.ServiceWhenSignalled(), kEventRxChar);
}

TEST_F(SerialLoopLineTest, HangUpEndsTheWatchOnceAndLeavesCloseWorking) {
  ASSERT_EQ(Open(), kResultOk);
  m_pty.HangUp();
  EXPECT_EQ(m_loop.ServiceWhenSignalled(), kEventLineLost) << "the owner hears of the loss at once";
  EXPECT_FALSE(m_line.Watched());
  EXPECT_EQ(m_loop.calls, (std::vector<std::string>{"watch", "unwatch"}));
  uint32_t count = 0;
  char byte = 'z';
  EXPECT_NE(m_line.Write(&byte, 1, &count, nullptr, 1000), kResultOk);
  EXPECT_EQ(m_line.Close(), kResultOk);
  EXPECT_EQ(m_loop.calls.size(), 2u) << "no second unwatch";
  EXPECT_EQ(test::OpenFdCount(), m_fdsBefore - 1) << "all gone, with the pty's master side";
}

TEST_F(SerialLoopLineTest, WritesAndReadsGoThroughWhileWatched) {
  ASSERT_EQ(Open(), kResultOk);
  uint32_t count = 0;
  ASSERT_EQ(m_line.Write("\x55\xAA", 2, &count, nullptr, 1000), kResultOk);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(m_pty.Receive(2), "\x55\xAA");
  EXPECT_FALSE(m_loop.Signalled(0)) << "our own writes do not signal the wait";
  ASSERT_TRUE(m_pty.Send("ok"));
  EXPECT_EQ(m_loop.ServiceWhenSignalled(), kEventRxChar);
  EXPECT_EQ(ReadAll(), "ok");
}

}  // namespace
}  // namespace vexel

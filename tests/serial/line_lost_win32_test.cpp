// A line that goes away under an open port, as when a cable is pulled: the
// watcher ends without a notification and without spinning, reads and writes
// fail, and Close still works. Under Wine, scripts/test-windows.sh maps the
// hang-up line (VEXEL_TEST_COM_HANGUP) to a pty that echoes what it receives
// and closes its master when it receives EOT.
#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "com_pair_win32.h"
#include "notify_queue.h"
#include "serial/serial_wnd.h"

namespace vexel {
namespace {

using test::kDeadlineMs;
using test::kQueue;
using test::NotifyQueue;

constexpr char kHangUpRequest[] = "\x04";

// The codes Wine gives once a pty's master has gone: a pending read ends with
// ERROR_BROKEN_PIPE, every other call fails with ERROR_NOT_READY.
bool IsLineLostCode(int64_t code) { return code == ERROR_NOT_READY || code == ERROR_BROKEN_PIPE; }

// A line whose watcher the test can see end, and whose re-arms it counts.
class ObservedLine final : public CSerialCWnd {
 public:
  ObservedLine() : m_ended(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~ObservedLine() override {
    Close();  // the watcher signals m_ended as its last act
    ::CloseHandle(m_ended);
  }

  bool WatcherEnded(DWORD deadlineMs) {
    return ::WaitForSingleObject(m_ended, deadlineMs) == WAIT_OBJECT_0;
  }
  uint32_t ExitCode() const { return m_exitCode; }
  uint32_t Arms() const { return m_arms; }

  int32_t WaitForEvent(SerialOverlapped* overlapped, uint32_t timeoutMs) override {
    ++m_arms;
    return CSerialCWnd::WaitForEvent(overlapped, timeoutMs);
  }

 protected:
  uint32_t WatchLoop() override {
    m_exitCode = CSerialCWnd::WatchLoop();
    ::SetEvent(m_ended);
    return m_exitCode;
  }

 private:
  HANDLE m_ended;
  std::atomic<uint32_t> m_exitCode{0};
  std::atomic<uint32_t> m_arms{0};
};

class LineLostWin32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* port = std::getenv("VEXEL_TEST_COM_HANGUP");
    if (port == nullptr || *port == '\0') {
      GTEST_SKIP() << "no hang-up line (VEXEL_TEST_COM_HANGUP; scripts/test-windows.sh maps one)";
    }
    m_portName = port;
  }

  int32_t Open(ObservedLine& line, NotifyQueue& queue) {
    return line.Open(m_portName.c_str(), &queue, 0, 0x77, kQueue, kQueue);
  }

  std::string m_portName;
};

// The line works and the watcher reports on it before it is lost: one echoed
// byte comes back with a notification.
TEST_F(LineLostWin32Test, TheLineEchoesWhileItLives) {
  ObservedLine line;
  NotifyQueue queue;
  ASSERT_EQ(Open(line, queue), kResultOk);
  uint32_t count = 0;
  ASSERT_EQ(line.Write("e", &count, nullptr, kDeadlineMs), kResultOk);
  auto message = queue.Next();
  ASSERT_TRUE(message);
  EXPECT_EQ(message->wParam, kEventRxChar);
  EXPECT_EQ(message->lParam, 0x77);
  char byte = 0;
  ASSERT_EQ(line.SetReadMode(ReadBlocking), kResultOk);
  ASSERT_EQ(line.Read(&byte, 1, &count, nullptr, kDeadlineMs), kResultOk);
  EXPECT_EQ(byte, 'e');
  EXPECT_EQ(line.Close(), kResultOk);
  EXPECT_TRUE(line.WatcherEnded(0)) << "Close joined the watcher";
  EXPECT_EQ(line.ExitCode(), 0u) << "a stop request ends the watcher with 0";
}

TEST_F(LineLostWin32Test, WatcherReportsTheLossOnceReadsAndWritesFailAndCloseWorks) {
  ObservedLine line;
  NotifyQueue queue;
  ASSERT_EQ(Open(line, queue), kResultOk);
  ASSERT_EQ(line.SetReadMode(ReadBlocking), kResultOk);
  SerialEvent readDone;
  SerialOverlapped pendingRead;
  pendingRead.hEvent = &readDone;
  char byte = 0;
  uint32_t count = 0;
  ASSERT_EQ(line.Read(&byte, 1, &count, &pendingRead, 0), kResultOk);
  ASSERT_FALSE(readDone.Wait(0)) << "nothing was sent, so the read is pending";

  const auto lost = std::chrono::steady_clock::now();
  ASSERT_EQ(line.Write(kHangUpRequest, &count, nullptr, kDeadlineMs), kResultOk);
  ASSERT_TRUE(line.WatcherEnded(kDeadlineMs)) << "the watcher is still running after the line went";
  const auto ended = std::chrono::steady_clock::now();
  std::printf("watcher ended %lld ms after the hang-up request, %u event waits armed in all\n",
              static_cast<long long>(
                  std::chrono::duration_cast<std::chrono::milliseconds>(ended - lost).count()),
              line.Arms());
  EXPECT_PRED1(IsLineLostCode, line.ExitCode()) << "the watcher ended for the loss";
  ASSERT_EQ(queue.Size(), 1u) << "the loss is reported once";
  EXPECT_EQ(queue.Next()->wParam, kEventLineLost);

  // Every later event wait fails at once with the loss, so no loop can spin.
  EXPECT_EQ(line.WaitForEvent(nullptr, kDeadlineMs), static_cast<int32_t>(line.ExitCode()));

  // The owner's read that was pending when the line went ends with its code.
  ASSERT_TRUE(readDone.Wait(kDeadlineMs));
  EXPECT_EQ(line.GetOverlappedResult(pendingRead, &count, false), kErrorBrokenPipe);
  EXPECT_EQ(count, 0u);

  count = 7;
  EXPECT_EQ(line.Read(&byte, 1, &count, nullptr, kDeadlineMs), kErrorBrokenPipe);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(line.Write("x", &count, nullptr, kDeadlineMs), ERROR_NOT_READY);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(queue.Size(), 0u);

  EXPECT_TRUE(line.IsOpen()) << "the port stays open until its owner closes it";
  EXPECT_EQ(line.Close(), kResultOk);
  EXPECT_FALSE(line.IsOpen());
}

}  // namespace
}  // namespace vexel

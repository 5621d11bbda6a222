// The codes real drivers give when an adapter is unplugged, which Wine never
// does (22, 5, 31, 1167; 995 from a driver that ends a wait on a device that
// is gone): each one, from each call it can come from, makes the watcher
// report the loss once and end, and every later event wait fail with the
// code. The test's own functions stand in for the Win32 calls (the port's
// table of them, comm_calls_win32.h) and fail the one call named, once, on
// the near port of the linked COM pair (the far end's calls go through).
#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>

#include "com_pair_win32.h"
#include "comm_calls_win32.h"
#include "notify_queue.h"
#include "serial/serial_wnd.h"

namespace vexel {
namespace {

using test::kDeadlineMs;
using test::kQueue;

enum class Call { None, WaitArm, WaitEnd, Read, Write, QueueCheck };

std::atomic<Call> g_failing{Call::None};  // fails once, then works again
std::atomic<DWORD> g_code{0};
std::atomic<DWORD> g_queueGone{0};    // when set, every queue check fails with it
std::atomic<HANDLE> g_near{nullptr};  // the port under test: the only one that waits
HANDLE g_nearKnown = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);  // a wait of it is armed

bool TakeFailure(HANDLE file, Call call) {
  Call expected = call;
  return file == g_near && g_failing.compare_exchange_strong(expected, Call::None);
}

BOOL Failed() {
  ::SetLastError(g_code);
  return FALSE;
}

BOOL WINAPI WaitCommEventSeam(HANDLE file, LPDWORD events, LPOVERLAPPED ov) {
  g_near = file;
  if (TakeFailure(file, Call::WaitArm)) return Failed();
  const BOOL done = ::WaitCommEvent(file, events, ov);
  const DWORD error = ::GetLastError();
  ::SetEvent(g_nearKnown);
  ::SetLastError(error);
  return done;
}

BOOL WINAPI ReadFileSeam(HANDLE file, LPVOID buffer, DWORD length, LPDWORD moved, LPOVERLAPPED ov) {
  return TakeFailure(file, Call::Read) ? Failed() : ::ReadFile(file, buffer, length, moved, ov);
}

BOOL WINAPI WriteFileSeam(HANDLE file, LPCVOID data, DWORD length, LPDWORD moved, LPOVERLAPPED ov) {
  return TakeFailure(file, Call::Write) ? Failed() : ::WriteFile(file, data, length, moved, ov);
}

// Only the watcher collects or ends operations while a WaitEnd failure is
// armed, so the end it fails is an event wait's.
BOOL WINAPI GetOverlappedResultSeam(HANDLE file, LPOVERLAPPED ov, LPDWORD moved, BOOL wait) {
  const BOOL done = ::GetOverlappedResult(file, ov, moved, wait);
  if (!done && ::GetLastError() == ERROR_IO_INCOMPLETE) return done;
  return TakeFailure(file, Call::WaitEnd) ? Failed() : done;
}

BOOL WINAPI ClearCommErrorSeam(HANDLE file, LPDWORD errors, LPCOMSTAT stat) {
  if (const DWORD gone = g_queueGone; gone != 0 && file == g_near) {
    ::SetLastError(gone);
    return FALSE;
  }
  return TakeFailure(file, Call::QueueCheck) ? Failed() : ::ClearCommError(file, errors, stat);
}

// Puts the test's functions in the port's table and opens @p port with a
// watcher, returning once the watcher has armed its first wait.
void OpenWithSeams(CSerialCWnd& port, test::NotifyQueue& queue) {
  ::ResetEvent(g_nearKnown);
  comm::Calls() = {WaitCommEventSeam, ReadFileSeam, WriteFileSeam, GetOverlappedResultSeam,
                   ClearCommErrorSeam};
  ASSERT_EQ(port.Open(test::NearPort().c_str(), &queue, 0, 0, kQueue, kQueue), kResultOk);
  ASSERT_EQ(::WaitForSingleObject(g_nearKnown, kDeadlineMs), WAIT_OBJECT_0);
}

struct CodeCase {
  const char* name;
  Call call;
  DWORD code;       // the failing call's code
  DWORD queueGone;  // 0, or the code every later queue check fails with
  DWORD lostCode;   // what later event waits fail with
};

class LineLostCodes : public ::testing::TestWithParam<CodeCase> {
 protected:
  void SetUp() override {
    VEXEL_REQUIRE_COM_PAIR(m_far);
    OpenWithSeams(m_port, m_queue);
  }

  void TearDown() override {
    m_port.Close();
    comm::Calls() = comm::SystemCommCalls();
    g_failing = Call::None;
    g_queueGone = 0;
    g_near = nullptr;
  }

  // Arms the failure, then makes the call it names happen.
  // A read or write that fails returns the code the loss is known by.
  void Provoke(const CodeCase& c) {
    g_code = c.code;
    uint32_t count = 0;
    char byte = 0;
    switch (c.call) {
      case Call::Read:
        // A blocking read goes straight to ReadFile, without asking the queue.
        ASSERT_EQ(m_port.SetReadMode(ReadBlocking), kResultOk);
        ASSERT_TRUE(m_far.Send("r"));
        ASSERT_TRUE(NextEvent(kEventRxChar));
        g_queueGone = c.queueGone;
        g_failing = c.call;
        EXPECT_EQ(m_port.Read(&byte, 1, &count, nullptr, kDeadlineMs),
                  static_cast<int32_t>(c.lostCode));
        break;
      case Call::Write:
        g_failing = c.call;
        EXPECT_EQ(m_port.Write("w", &count, nullptr, kDeadlineMs),
                  static_cast<int32_t>(c.lostCode));
        break;
      case Call::WaitEnd:
        // Where waits pend, an arrival ends the pending one; where they end
        // early and empty, an arrival may find the next wait armed at once,
        // without a completion to fail, and a mask change is used instead.
        g_queueGone = c.queueGone;
        g_failing = c.call;
        if (test::EventWaitsPend()) {
          ASSERT_TRUE(m_far.Send("e"));
        } else {
          ASSERT_EQ(m_port.SetEventMask(0x00C1), kResultOk);
        }
        break;
      default:  // an arrival ends the pending wait and arms the next
        g_queueGone = c.queueGone;
        g_failing = c.call;
        ASSERT_TRUE(m_far.Send("e"));
        break;
    }
  }

  // Skips other notifications (Wine repeats kEventRxChar while bytes stay
  // unread) until one carries @p eventType, within the deadline.
  bool NextEvent(uint32_t eventType) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDeadlineMs);
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      auto message = m_queue.Next(left);
      if (!message) return false;
      if ((message->wParam & 0xFFFF) == eventType) return true;
      if ((message->wParam & kEventLineLost) != 0) return false;
    }
  }

  test::FarEnd m_far;
  test::NotifyQueue m_queue;
  CSerialCWnd m_port;
};

TEST_P(LineLostCodes, TheWatcherReportsTheLossOnceAndLaterWaitsFailWithTheCode) {
  const CodeCase& c = GetParam();
  Provoke(c);
  ASSERT_TRUE(NextEvent(kEventLineLost)) << "no loss reported";
  EXPECT_EQ(m_queue.Size(), 0u) << "the loss is the last message";
  EXPECT_EQ(m_port.WaitForEvent(nullptr, kDeadlineMs), static_cast<int32_t>(c.lostCode));
  EXPECT_TRUE(m_port.IsOpen()) << "the port stays open until its owner closes it";
  EXPECT_EQ(m_port.Close(), kResultOk);
}

const CodeCase kCodeCases[] = {
    // name                          call              code  queue gone  lost
    {"WaitArmAccessDenied", Call::WaitArm, 5, 0, 5},
    {"WaitArmBadCommand", Call::WaitArm, 22, 0, 22},
    {"WaitEndGenFailure", Call::WaitEnd, 31, 0, 31},
    {"WaitEndDeviceNotConnected", Call::WaitEnd, 1167, 0, 1167},
    {"WaitEndAbortedOnAGoneDevice", Call::WaitEnd, 995, 1167, 1167},
    {"ReadBadCommand", Call::Read, 22, 0, 22},
    {"ReadNotReady", Call::Read, 21, 0, 21},
    {"ReadBrokenPipe", Call::Read, 109, 0, 109},
    {"ReadAbortedOnAGoneDevice", Call::Read, 995, 31, 31},
    {"WriteGenFailure", Call::Write, 31, 0, 31},
    {"WriteDeviceNotConnected", Call::Write, 1167, 0, 1167},
    {"QueueCheckBadCommand", Call::QueueCheck, 22, 0, 22},
    {"QueueCheckDeviceNotConnected", Call::QueueCheck, 1167, 0, 1167},
};

INSTANTIATE_TEST_SUITE_P(Codes, LineLostCodes, ::testing::ValuesIn(kCodeCases),
                         [](const auto& p) { return std::string(p.param.name); });

// A wait that ends cancelled on a line that is still there (a mask change,
// Wine's empty waits) is no loss: the next arrival is reported as usual.
TEST(LineLostCodesAlive, AWaitEndedCancelledOnALiveLineGoesOn) {
  test::FarEnd farEnd;
  VEXEL_REQUIRE_COM_PAIR(farEnd);
  test::NotifyQueue queue;
  CSerialCWnd port;
  OpenWithSeams(port, queue);
  g_code = ERROR_OPERATION_ABORTED;
  g_failing = Call::WaitEnd;
  ASSERT_TRUE(farEnd.Send("a"));
  auto message = queue.Next();
  ASSERT_TRUE(message);
  EXPECT_EQ(message->wParam & 0xFFFF, kEventRxChar);
  char byte = 0;
  uint32_t count = 0;
  EXPECT_EQ(port.Read(&byte, 1, &count, nullptr, kDeadlineMs), kResultOk);
  EXPECT_EQ(byte, 'a');
  EXPECT_EQ(port.Write("b", &count, nullptr, kDeadlineMs), kResultOk);
  EXPECT_EQ(farEnd.Receive(1), "b");
  port.Close();
  comm::Calls() = comm::SystemCommCalls();
  g_failing = Call::None;
  g_near = nullptr;
}

}  // namespace
}  // namespace vexel

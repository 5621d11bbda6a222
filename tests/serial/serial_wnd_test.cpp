// The watcher classes over real pseudo-terminals: what they post, when they
// stop, and that a hang-up ends the watcher without spinning.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "notify_queue.h"
#include "process_limits.h"
#include "serial/serial_wnd.h"
#include "support/proc_scan.h"
#include "support/pty.h"

namespace vexel {
namespace {

using test::NotifyQueue;
using test::PtyPair;

constexpr uint32_t kQueue = 2048;

class SerialWndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_pty.IsOpen());
    m_threadsBefore = test::ThreadCount();
  }

  int32_t Open(ComNotifyTarget* target, uint32_t message, intptr_t lParam) {
    return m_port.Open(m_pty.SlavePath().c_str(), target, message, lParam, kQueue, kQueue);
  }

  std::string Drain(CSerialPort& port, uint32_t length) {
    std::string bytes(length, '\0');
    uint32_t count = 0;
    EXPECT_EQ(port.SetReadMode(ReadBlocking), kResultOk);
    EXPECT_EQ(port.Read(bytes.data(), length, &count, nullptr, 10000), kResultOk);
    bytes.resize(count);
    return bytes;
  }

  PtyPair m_pty;
  NotifyQueue m_queue;
  CSerialCWnd m_port;
  int m_threadsBefore = 0;
};

TEST_F(SerialWndTest, ArrivalPostsTheDefaultMessageWithEventTypeAndLParam) {
  ASSERT_EQ(Open(&m_queue, 0, 0x1234), kResultOk);
  EXPECT_EQ(test::ThreadCount(), m_threadsBefore + 1);
  ASSERT_TRUE(m_pty.Send("a"));
  auto message = m_queue.Next();
  ASSERT_TRUE(message);
  EXPECT_EQ(message->message, DefaultComMessage);
  EXPECT_EQ(message->wParam & 0xFFFF, kEventRxChar);
  EXPECT_EQ(message->wParam >> 16, 0u) << "no line errors";
  EXPECT_EQ(message->lParam, 0x1234);
  EXPECT_EQ(Drain(m_port, 1), "a");
}

TEST_F(SerialWndTest, CustomMessageIdIsPostedAsGiven) {
  const uint32_t custom = RegisterComMessage("SerialWndTest_Custom");
  ASSERT_EQ(Open(&m_queue, custom, -7), kResultOk);
  ASSERT_TRUE(m_pty.Send("b"));
  auto message = m_queue.Next();
  ASSERT_TRUE(message);
  EXPECT_EQ(message->message, custom);
  EXPECT_NE(custom, DefaultComMessage);
  EXPECT_EQ(message->wParam, kEventRxChar);
  EXPECT_EQ(message->lParam, -7);
}

// Unread bytes keep a tty readable; the watcher still reports each arrival
// once. A watcher that re-reported unread bytes would have flooded the queue
// by the time the third notification came.
TEST_F(SerialWndTest, OneNotificationPerArrivalWhileBytesStayUnread) {
  ASSERT_EQ(Open(&m_queue, 0, 0), kResultOk);
  for (const char* bytes : {"1", "22", "333"}) {
    ASSERT_TRUE(m_pty.Send(bytes));
    auto message = m_queue.Next();
    ASSERT_TRUE(message) << bytes;
    EXPECT_EQ(message->wParam, kEventRxChar);
  }
  EXPECT_EQ(m_queue.Size(), 0u);
  EXPECT_EQ(Drain(m_port, 6), "122333");
}

TEST_F(SerialWndTest, CloseDuringAPendingWaitThenReopenWithANewTarget) {
  ASSERT_EQ(Open(&m_queue, 0, 1), kResultOk);
  EXPECT_EQ(m_port.Close(), kResultOk);
  EXPECT_FALSE(m_port.IsOpen());
  EXPECT_EQ(test::ThreadCount(), m_threadsBefore) << "Close joined the watcher";

  NotifyQueue second;
  const uint32_t custom = RegisterComMessage("SerialWndTest_Reopen");
  ASSERT_EQ(Open(&second, custom, 2), kResultOk);
  ASSERT_TRUE(m_pty.Send("r"));
  auto message = second.Next();
  ASSERT_TRUE(message);
  EXPECT_EQ(message->message, custom);
  EXPECT_EQ(message->lParam, 2);
  EXPECT_EQ(m_queue.Size(), 0u) << "the first target hears nothing after Close";
  EXPECT_EQ(m_port.Close(), kResultOk);  // before the second target goes
}

TEST_F(SerialWndTest, SecondOpenKeepsTheFirstWatcherAndTarget) {
  ASSERT_EQ(Open(&m_queue, 0, 5), kResultOk);
  NotifyQueue other;
  EXPECT_EQ(Open(&other, 0, 6), kErrorAlreadyInitialized);
  EXPECT_EQ(test::ThreadCount(), m_threadsBefore + 1) << "no second watcher";
  ASSERT_TRUE(m_pty.Send("k"));
  auto message = m_queue.Next();
  ASSERT_TRUE(message);
  EXPECT_EQ(message->lParam, 5);
  EXPECT_EQ(other.Size(), 0u);
}

TEST_F(SerialWndTest, MissingPortStartsNoWatcher) {
  EXPECT_EQ(m_port.Open("/dev/vexel-no-such-port", &m_queue, 0, 0, kQueue, kQueue),
            kErrorFileNotFound);
  EXPECT_EQ(test::ThreadCount(), m_threadsBefore);
  EXPECT_FALSE(m_port.IsOpen());
  EXPECT_EQ(m_port.Close(), kResultOk);
  EXPECT_EQ(Open(&m_queue, 0, 0), kResultOk);
}

TEST_F(SerialWndTest, DestructionStopsTheWatcherBeforeTheTargetGoes) {
  auto target = std::make_unique<NotifyQueue>();
  auto port = std::make_unique<CSerialCWnd>();
  ASSERT_EQ(port->Open(m_pty.SlavePath().c_str(), target.get(), 0, 0, kQueue, kQueue), kResultOk);
  ASSERT_TRUE(m_pty.Send("d"));
  ASSERT_TRUE(target->Next());
  port.reset();
  EXPECT_EQ(test::ThreadCount(), m_threadsBefore);
  target.reset();
  ASSERT_TRUE(m_pty.Send("after"));  // nobody may post to the freed target
  CSerialPort plain;
  ASSERT_EQ(plain.Open(m_pty.SlavePath().c_str(), kQueue, kQueue), kResultOk)
      << "destruction closed the port and released it";
}

TEST_F(SerialWndTest, OpenWithNoWindowObjectWatchesAndPostsNothing) {
  ASSERT_EQ(Open(nullptr, 0, 0), kResultOk);
  EXPECT_EQ(test::ThreadCount(), m_threadsBefore + 1);
  ASSERT_TRUE(m_pty.Send("q"));
  EXPECT_EQ(Drain(m_port, 1), "q");
  EXPECT_EQ(m_port.Close(), kResultOk);
  EXPECT_EQ(test::ThreadCount(), m_threadsBefore);
}

TEST_F(SerialWndTest, ChangingTheEventMaskWhileWaitingKeepsTheWatcherGoing) {
  ASSERT_EQ(Open(&m_queue, 0, 0), kResultOk);
  ASSERT_EQ(m_port.SetEventMask(0x00C1), kResultOk);  // completes the pending wait with type 0
  ASSERT_TRUE(m_pty.Send("m"));
  auto message = m_queue.Next();
  ASSERT_TRUE(message);
  EXPECT_EQ(message->wParam, kEventRxChar);
  EXPECT_EQ(m_queue.Size(), 0u);
}

TEST_F(SerialWndTest, ServesTheControllerThroughTheLineInterface) {
  ISerialLine& line = m_port;
  ASSERT_EQ(line.Open(m_pty.SlavePath().c_str(), &m_queue, 0, 0, kQueue, kQueue), kResultOk);
  EXPECT_EQ(line.SetLineFormat(57600, 8, kParityEven, kTwoStopBits), kResultOk);
  EXPECT_EQ(line.SetFlowControl(FlowNone), kResultOk);
  EXPECT_EQ(line.SetReadMode(ReadNonBlocking), kResultOk);
  EXPECT_EQ(m_port.GetBaudRate(), 57600);
  EXPECT_EQ(m_port.GetStopBits(), kTwoStopBits);

  const uint8_t probe[] = {0xB0, 0xEF, 0x01, 0x00};
  uint32_t count = 0;
  EXPECT_EQ(line.Write(probe, sizeof probe, &count, nullptr, kInfinite), kResultOk);
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(m_pty.Receive(4), std::string("\xB0\xEF\x01\x00", 4));

  ASSERT_TRUE(m_pty.Send(std::string("\xB0\xEF\x81\x00", 4)));
  ASSERT_TRUE(m_queue.Next());
  std::string received;
  while (received.size() < 4) {  // drain as the frame assembler does
    uint8_t byte = 0;
    ASSERT_EQ(line.Read(&byte, 1, &count, nullptr, kInfinite), kResultOk);
    if (count == 0) {
      ASSERT_TRUE(m_queue.Next()) << "the rest arrived later";
      continue;
    }
    received.push_back(static_cast<char>(byte));
  }
  EXPECT_EQ(received, std::string("\xB0\xEF\x81\x00", 4));
  EXPECT_EQ(line.Close(), kResultOk);
  EXPECT_EQ(test::ThreadCount(), m_threadsBefore);
}

// A pulled adapter or a closed pty master: the watcher reports the loss once
// and ends (the port stays open but idle), burning no CPU; only Close is left.
TEST_F(SerialWndTest, HangUpEndsTheWatcherWithoutSpinning) {
  ASSERT_EQ(Open(&m_queue, 0, 0), kResultOk);
  ASSERT_TRUE(m_pty.Send("h"));
  ASSERT_TRUE(m_queue.Next());
  m_pty.HangUp();

  const double cpuBefore = test::ProcessCpuSeconds();
  test::IdleFor(std::chrono::seconds(1));
  const double cpuUsed = test::ProcessCpuSeconds() - cpuBefore;
  EXPECT_LT(cpuUsed, 0.2) << "seconds of CPU in one idle second after the hang-up";
  EXPECT_EQ(test::ThreadCount(), m_threadsBefore) << "the watcher ended";
  ASSERT_EQ(m_queue.Size(), 1u) << "the loss is reported once";
  EXPECT_EQ(m_queue.Next()->wParam, kEventLineLost);

  uint32_t count = 0;
  EXPECT_EQ(m_port.Write("x", &count, nullptr, kInfinite), kErrorIoDevice);
  EXPECT_TRUE(m_port.IsOpen());
  EXPECT_EQ(m_port.Close(), kResultOk);
}

}  // namespace
}  // namespace vexel

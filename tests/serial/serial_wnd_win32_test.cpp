// The watcher classes on Windows over a linked COM pair: what they post, to
// a queue and to a real window, and when they stop.
#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <optional>
#include <string>

#include "com_pair_win32.h"
#include "notify_queue.h"
#include "serial/serial_wnd.h"
#include "serial/window_target.h"

namespace vexel {
namespace {

using test::kDeadlineMs;
using test::kQueue;
using test::NotifyQueue;

class SerialWndWin32Test : public ::testing::Test {
 protected:
  void SetUp() override { VEXEL_REQUIRE_COM_PAIR(m_far); }

  int32_t Open(ComNotifyTarget* target, uint32_t message, intptr_t lParam) {
    return m_port.Open(test::NearPort().c_str(), target, message, lParam, kQueue, kQueue);
  }

  std::string Drain(uint32_t length) {
    std::string bytes(length, '\0');
    uint32_t count = 0;
    EXPECT_EQ(m_port.SetReadMode(ReadBlocking), kResultOk);
    EXPECT_EQ(m_port.Read(bytes.data(), length, &count, nullptr, kDeadlineMs), kResultOk);
    bytes.resize(count);
    EXPECT_EQ(m_port.SetReadMode(ReadNonBlocking), kResultOk);
    return bytes;
  }

  test::FarEnd m_far;
  NotifyQueue m_queue;
  CSerialCWnd m_port;
};

TEST_F(SerialWndWin32Test, ArrivalPostsTheDefaultMessageWithEventTypeAndLParam) {
  ASSERT_EQ(Open(&m_queue, 0, 0x1234), kResultOk);
  ASSERT_TRUE(m_far.Send("a"));
  auto message = m_queue.Next();
  ASSERT_TRUE(message);
  EXPECT_EQ(message->message, DefaultComMessage);
  EXPECT_EQ(message->wParam, kEventRxChar) << "no line errors in the high word";
  EXPECT_EQ(message->lParam, 0x1234);
  EXPECT_EQ(Drain(1), "a");
}

// Wine reports kEventRxChar for as long as bytes stay unread, so there a
// watcher keeps posting until the owner drains the line.
TEST_F(SerialWndWin32Test, OneNotificationPerArrivalWhileBytesStayUnread) {
  if (test::UnderWine()) GTEST_SKIP() << "Wine: kEventRxChar is reported while bytes stay unread";
  ASSERT_EQ(Open(&m_queue, 0, 0), kResultOk);
  for (const char* bytes : {"1", "22", "333"}) {
    ASSERT_TRUE(m_far.Send(bytes));
    ASSERT_TRUE(m_queue.Next()) << bytes;
  }
  EXPECT_EQ(m_queue.Size(), 0u);
  EXPECT_EQ(Drain(6), "122333");
}

TEST_F(SerialWndWin32Test, CloseDuringAPendingWaitThenReopenWithANewTarget) {
  ASSERT_EQ(Open(&m_queue, 0, 1), kResultOk);
  EXPECT_EQ(m_port.Close(), kResultOk);
  EXPECT_FALSE(m_port.IsOpen());
  NotifyQueue second;
  const uint32_t custom = RegisterComMessage("SerialWndWin32Test_Reopen");
  ASSERT_EQ(Open(&second, custom, 2), kResultOk);
  ASSERT_TRUE(m_far.Send("r"));
  auto message = second.Next();
  ASSERT_TRUE(message);
  EXPECT_EQ(message->message, custom);
  EXPECT_EQ(message->lParam, 2);
  EXPECT_EQ(m_queue.Size(), 0u) << "the first target hears nothing after Close";
  EXPECT_EQ(Drain(1), "r");
  EXPECT_EQ(m_port.Close(), kResultOk);  // before the second target goes
}

TEST_F(SerialWndWin32Test, SecondOpenKeepsTheFirstWatcherAndMissingPortStartsNone) {
  ASSERT_EQ(Open(&m_queue, 0, 5), kResultOk);
  NotifyQueue other;
  EXPECT_EQ(Open(&other, 0, 6), kErrorAlreadyInitialized);
  ASSERT_TRUE(m_far.Send("k"));
  auto message = m_queue.Next();
  ASSERT_TRUE(message);
  EXPECT_EQ(message->lParam, 5);
  EXPECT_EQ(other.Size(), 0u);
  EXPECT_EQ(Drain(1), "k");

  CSerialCWnd missing;
  EXPECT_EQ(missing.Open("COM9", &other, 0, 0, kQueue, kQueue), kErrorFileNotFound);
  EXPECT_FALSE(missing.IsOpen());
  EXPECT_EQ(missing.Close(), kResultOk);
}

TEST_F(SerialWndWin32Test, DestructionStopsTheWatcherBeforeTheTargetGoes) {
  auto target = std::make_unique<NotifyQueue>();
  auto port = std::make_unique<CSerialCWnd>();
  ASSERT_EQ(port->Open(test::NearPort().c_str(), target.get(), 0, 0, kQueue, kQueue), kResultOk);
  ASSERT_TRUE(m_far.Send("d"));
  ASSERT_TRUE(target->Next());
  port.reset();
  target.reset();
  ASSERT_TRUE(m_far.Send("after"));  // nobody may post to the freed target
  ASSERT_EQ(Open(&m_queue, 0, 0), kResultOk) << "destruction closed the port";
  // The open dropped the "d" left unread; "after" may still have been on its
  // way through the pair then, so only its tail can come before "new".
  ASSERT_TRUE(m_far.Send("new"));
  const std::string tails[] = {"new", "rnew", "ernew", "ternew", "fternew", "afternew"};
  std::string received;
  auto whole = [&] {
    return std::find(std::begin(tails), std::end(tails), received) != std::end(tails);
  };
  while (received.size() < 8 && !whole()) {
    const std::string byte = Drain(1);
    if (byte.empty()) break;
    received += byte;
  }
  EXPECT_TRUE(whole()) << "only a tail of what was sent before the open may come: " << received;
}

// A break: kEventBreak in the low word and kLineErrorBreak in the high word, the error
// state cleared, and later bytes reported again with a clean high word.
TEST_F(SerialWndWin32Test, BreakCarriesTheLineErrorFlagsInTheHighWord) {
  ASSERT_EQ(Open(&m_queue, 0, 0), kResultOk);
  ASSERT_TRUE(m_far.SendBreak());
  ASSERT_TRUE(m_far.Send("b"));
  uint32_t events = 0;
  uint32_t errors = 0;
  while ((events & kEventRxChar) == 0) {
    auto message = m_queue.Next();
    ASSERT_TRUE(message);
    events |= message->wParam & 0xFFFF;
    errors |= message->wParam >> 16;
  }
  EXPECT_EQ(Drain(1), "b");
  if (errors == 0 && test::UnderWine()) {
    GTEST_SKIP() << "Wine produces no line error flags: a pty carries no break, and "
                    "ClearCommError's error word stays 0 there";
  }
  EXPECT_NE(events & kEventBreak, 0u);
  EXPECT_NE(errors & kLineErrorBreak, 0u);
  while (m_queue.Next(std::chrono::milliseconds(0))) {
  }
  ASSERT_TRUE(m_far.Send("c"));
  auto message = m_queue.Next();
  ASSERT_TRUE(message);
  EXPECT_EQ(message->wParam, kEventRxChar) << "the error state was cleared";
  EXPECT_EQ(Drain(1), "c");
}

TEST_F(SerialWndWin32Test, ChangingTheEventMaskWhileWaitingKeepsTheWatcherGoing) {
  ASSERT_EQ(Open(&m_queue, 0, 0), kResultOk);
  ASSERT_EQ(m_port.SetEventMask(0x00C1), kResultOk);  // ends the pending wait empty
  ASSERT_TRUE(m_far.Send("m"));
  auto message = m_queue.Next();
  ASSERT_TRUE(message);
  EXPECT_EQ(message->wParam, kEventRxChar);
  EXPECT_EQ(Drain(1), "m");
}

// A message-only window on the test thread, pumped until a message comes.
class MessageWindow {
 public:
  MessageWindow() {
    m_hWnd = ::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                               nullptr);
  }
  ~MessageWindow() {
    if (m_hWnd != nullptr) ::DestroyWindow(m_hWnd);
  }
  HWND Handle() const { return m_hWnd; }

  // The next message posted to the window with an id of at least 0xC000.
  std::optional<MSG> Next(DWORD deadlineMs) {
    const ULONGLONG end = ::GetTickCount64() + deadlineMs;
    for (;;) {
      MSG msg;
      if (::PeekMessageA(&msg, m_hWnd, 0xC000, 0xFFFF, PM_REMOVE)) return msg;
      const ULONGLONG now = ::GetTickCount64();
      if (now >= end) return std::nullopt;
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_POSTMESSAGE);
    }
  }

 private:
  HWND m_hWnd = nullptr;
};

TEST_F(SerialWndWin32Test, WindowTargetPostsTheRegisteredMessageToTheWindow) {
  MessageWindow window;
  ASSERT_NE(window.Handle(), nullptr);
  HwndNotifyTarget target(window.Handle());
  EXPECT_EQ(target.Window(), window.Handle());
  ASSERT_EQ(Open(&target, 0, 0x5A5A), kResultOk);
  ASSERT_TRUE(m_far.Send("w"));
  std::optional<MSG> msg = window.Next(kDeadlineMs);
  ASSERT_TRUE(msg);
  EXPECT_EQ(msg->message, ::RegisterWindowMessageA("CSerialWnd_DefaultComMsg"));
  EXPECT_EQ(msg->wParam & 0xFFFF, kEventRxChar);
  EXPECT_EQ(msg->lParam, 0x5A5A);
  EXPECT_EQ(m_port.Close(), kResultOk);
}

}  // namespace
}  // namespace vexel

// CSerialPort on the Win32 communications calls, over a linked COM pair: the
// port opens the near end, the test plays the far end.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "com_pair_win32.h"
#include "serial/serial_port.h"

namespace vexel {
namespace {

using test::kDeadlineMs;
using test::kQueue;

class SerialPortWin32Test : public ::testing::Test {
 protected:
  void SetUp() override { VEXEL_REQUIRE_COM_PAIR(m_far); }

  void OpenPort() { ASSERT_EQ(m_port.Open(test::NearPort().c_str(), kQueue, kQueue), kResultOk); }

  std::string ReadExactly(uint32_t length) {
    std::string bytes(length, '\0');
    uint32_t count = 0;
    EXPECT_EQ(m_port.SetReadMode(ReadBlocking), kResultOk);
    EXPECT_EQ(m_port.Read(bytes.data(), length, &count, nullptr, kDeadlineMs), kResultOk);
    bytes.resize(count);
    return bytes;
  }

  test::FarEnd m_far;
  CSerialPort m_port;
};

TEST_F(SerialPortWin32Test, OpenAppliesTheDefaults) {
  OpenPort();
  EXPECT_EQ(m_port.LastError(), kResultOk);
  EXPECT_EQ(m_port.GetEventMask(), 0x00C1u);
  EXPECT_EQ(m_port.GetBaudRate(), 9600);
  EXPECT_EQ(m_port.GetDataBits(), 8);
  EXPECT_EQ(m_port.GetParity(), kParityNone);
  EXPECT_EQ(m_port.GetStopBits(), kOneStopBit);
  EXPECT_EQ(m_port.GetFlowControl(), FlowNone);
  // Non-blocking reads return at once with nothing, even unlimited (Wine
  // would leave such a read pending on an empty queue).
  char byte = 'x';
  uint32_t count = 99;
  EXPECT_EQ(m_port.Read(&byte, 1, &count, nullptr, kInfinite), kResultOk);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(byte, 'x');
}

// A plain handle of the near port's own, as another program opens it.
HANDLE OpenNearPlainly() {
  const std::string path = "\\\\.\\" + test::NearPort();
  return ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                       nullptr);
}

// The port's record as the platform holds it, read through a plain handle
// (closed before the port under test opens it).
DCB ReadRecord() {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  HANDLE port = OpenNearPlainly();
  if (port != INVALID_HANDLE_VALUE) {
    ::GetCommState(port, &dcb);
    ::CloseHandle(port);
  }
  return dcb;
}

// Another program leaves a record behind with equal XON and XOFF characters
// and the fields that drop or replace received bytes set: Open replaces
// those and keeps the rest.
TEST_F(SerialPortWin32Test, OpenReplacesTheUnsoundFieldsAnotherProgramLeft) {
  HANDLE other = OpenNearPlainly();
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  DCB left{};
  left.DCBlength = sizeof left;
  ASSERT_TRUE(::GetCommState(other, &left));
  left.BaudRate = 19200;
  left.fNull = TRUE;
  left.fAbortOnError = TRUE;
  left.fErrorChar = TRUE;
  left.fDsrSensitivity = TRUE;
  left.XonChar = 0x13;
  left.XoffChar = 0x13;
  const bool kept = ::SetCommState(other, &left) != FALSE;
  ::CloseHandle(other);
  if (!kept) GTEST_SKIP() << "the platform refuses such a record, so none can be left behind";
  const DCB inherited = ReadRecord();
  ASSERT_EQ(inherited.XoffChar, 0x13) << "the record left behind is in force";

  OpenPort();
  EXPECT_EQ(m_port.LastError(), kResultOk);
  m_port.Close();
  const DCB opened = ReadRecord();
  EXPECT_EQ(opened.XonChar, 0x11);
  EXPECT_EQ(opened.XoffChar, 0x13);
  EXPECT_EQ(opened.fNull, 0u);
  EXPECT_EQ(opened.fAbortOnError, 0u);
  EXPECT_EQ(opened.fErrorChar, 0u);
  EXPECT_EQ(opened.fDsrSensitivity, 0u);
  EXPECT_EQ(opened.fBinary, 1u);
  EXPECT_EQ(opened.BaudRate, 9600u) << "Open's own defaults still apply";
}

TEST_F(SerialPortWin32Test, SecondOpenGivesAlreadyInitializedAndTheFirstKeepsWorking) {
  OpenPort();
  ASSERT_EQ(m_port.SetLineFormat(57600, 8, kParityNone, kTwoStopBits), kResultOk);
  EXPECT_EQ(m_port.Open(test::NearPort().c_str(), kQueue, kQueue), kErrorAlreadyInitialized);
  EXPECT_EQ(m_port.GetBaudRate(), 57600);
  uint32_t count = 0;
  EXPECT_EQ(m_port.Write("ping", &count, nullptr, kInfinite), kResultOk);
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(m_far.Receive(4), "ping");
  ASSERT_TRUE(m_far.Send("pong"));
  EXPECT_EQ(ReadExactly(4), "pong");
}

TEST_F(SerialPortWin32Test, AHeldPortCannotBeOpenedByAnotherObject) {
  if (test::UnderWine()) GTEST_SKIP() << "Wine: a second open of a COM port succeeds";
  OpenPort();
  CSerialPort other;
  EXPECT_EQ(other.Open(test::NearPort().c_str(), kQueue, kQueue), kErrorAccessDenied);
  EXPECT_FALSE(other.IsOpen());
}

TEST_F(SerialPortWin32Test, MissingPortGivesThePlatformCodeAndALaterOpenWorks) {
  EXPECT_EQ(m_port.Open("COM9", kQueue, kQueue), kErrorFileNotFound);
  EXPECT_FALSE(m_port.IsOpen());
  EXPECT_EQ(m_port.LastOsError(), kErrorFileNotFound);
  EXPECT_EQ(m_port.Close(), kResultOk);
  OpenPort();
}

TEST_F(SerialPortWin32Test, SettingsRoundTrip) {
  OpenPort();
  for (uint32_t baud : {57600u, 115200u, 1200u, 9600u}) {
    ASSERT_EQ(m_port.SetLineFormat(baud, 8, kParityNone, kTwoStopBits), kResultOk);
    EXPECT_EQ(m_port.GetBaudRate(), static_cast<int32_t>(baud));
    EXPECT_EQ(m_port.GetStopBits(), kTwoStopBits);
  }
  for (FlowControl mode : {FlowXonXoff, FlowNone, FlowXonXoff}) {
    EXPECT_EQ(m_port.SetFlowControl(mode), kResultOk);
    EXPECT_EQ(m_port.GetFlowControl(), mode);
  }
  EXPECT_EQ(m_port.SetEventCharacter('\n', true), kResultOk);
  EXPECT_EQ(m_port.GetEventMask(), 0x00C3u);
  EXPECT_EQ(m_port.GetBaudRate(), 9600) << "each setter changes only its own fields";
  if (test::UnderWine()) GTEST_SKIP() << "Wine: the event character is not kept";
  EXPECT_EQ(m_port.GetEventCharacter(), '\n');
}

TEST_F(SerialPortWin32Test, ParityAndHardwareFlowReadBack) {
  if (test::UnderWine()) {
    GTEST_SKIP() << "Wine: a pseudo-terminal drops parity and DTR/RTS handshaking";
  }
  OpenPort();
  ASSERT_EQ(m_port.SetLineFormat(57600, 8, kParityEven, kTwoStopBits), kResultOk);
  EXPECT_EQ(m_port.GetParity(), kParityEven);
  ASSERT_EQ(m_port.SetFlowControl(FlowHardware), kResultOk);
  EXPECT_EQ(m_port.GetFlowControl(), FlowHardware);
}

TEST_F(SerialPortWin32Test, RefusedModesLeaveTheLineAsItWas) {
  OpenPort();
  ASSERT_EQ(m_port.SetFlowControl(FlowXonXoff), kResultOk);
  EXPECT_EQ(m_port.SetFlowControl(static_cast<FlowControl>(3)), kErrorInvalidArg);
  EXPECT_EQ(m_port.GetFlowControl(), FlowXonXoff);
  EXPECT_EQ(m_port.SetReadMode(static_cast<ReadMode>(2)), kErrorInvalidArg);
  EXPECT_EQ(m_port.LastError(), kErrorInvalidArg);
}

TEST_F(SerialPortWin32Test, BlockingReadTimesOutThenReadsWhatCame) {
  OpenPort();
  ASSERT_EQ(m_port.SetReadMode(ReadBlocking), kResultOk);
  char buffer[4] = {'#', '#', '#', '#'};
  uint32_t count = 99;
  EXPECT_EQ(m_port.Read(buffer, 4, &count, nullptr, 50), kErrorTimeout);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(std::string(buffer, 4), "####");
  ASSERT_TRUE(m_far.Send("abcd"));
  EXPECT_EQ(m_port.Read(buffer, 4, &count, nullptr, kDeadlineMs), kResultOk);
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(std::string(buffer, 4), "abcd");
}

TEST_F(SerialPortWin32Test, BytesTravelRawBothWays) {
  OpenPort();
  uint32_t count = 77;
  EXPECT_EQ(m_port.Write("", &count, nullptr, kInfinite), kResultOk);
  EXPECT_EQ(count, 0u);
  const uint8_t binary[] = {0xB0, 0xEF, 0x00, 0x0A, 0x0D, 0xFF, 0x11, 0x13};
  EXPECT_EQ(m_port.Write(binary, sizeof binary, nullptr, nullptr, kInfinite), kResultOk);
  EXPECT_EQ(m_far.Receive(8), std::string("\xB0\xEF\x00\x0A\x0D\xFF\x11\x13", 8));
  ASSERT_TRUE(m_far.Send(std::string("\x00\x0D\x0A\x11\x7F", 5)));
  EXPECT_EQ(ReadExactly(5), std::string("\x00\x0D\x0A\x11\x7F", 5));
}

TEST_F(SerialPortWin32Test, AsynchronousWaitIsSignalledWhenAByteArrives) {
  if (!test::EventWaitsPend()) {
    GTEST_SKIP() << "Wine: without the modem-line shim a wait on a pty ends empty at once";
  }
  OpenPort();
  SerialEvent event;
  SerialOverlapped record;
  record.hEvent = &event;
  EXPECT_EQ(m_port.WaitForEvent(&record, kInfinite), kResultOk);
  EXPECT_FALSE(event.Wait(0)) << "pending until something arrives";
  ASSERT_TRUE(m_far.Send("x"));
  ASSERT_TRUE(event.Wait(kDeadlineMs));
  EXPECT_EQ(m_port.TakeEventType(), kEventRxChar);
  EXPECT_EQ(m_port.TakeEventType(), kNoEventType);
  EXPECT_EQ(ReadExactly(1), "x");

  EXPECT_EQ(m_port.WaitForEvent(nullptr, 50), kErrorTimeout);
  EXPECT_EQ(m_port.LastError(), kErrorTimeout);
}

// A watcher re-arms on the same record after a wait that completed at once
// (bytes were queued): the new wait must leave the record's event clear
// until it completes, or the watcher wakes for a wait that has not ended.
TEST_F(SerialPortWin32Test, RearmingAfterAnAtOnceCompletionClearsTheRecordsEvent) {
  if (!test::EventWaitsPend()) {
    GTEST_SKIP() << "Wine: without the modem-line shim a wait on a pty ends empty at once";
  }
  OpenPort();
  SerialEvent event;
  SerialOverlapped record;
  record.hEvent = &event;
  ASSERT_TRUE(m_far.Send("q"));
  ASSERT_EQ(m_port.WaitForEvent(nullptr, kDeadlineMs), kResultOk);  // "q" is queued now
  ASSERT_EQ(m_port.TakeEventType(), kEventRxChar);
  ASSERT_EQ(m_port.WaitForEvent(&record, kInfinite), kResultOk);
  ASSERT_TRUE(event.Wait(0)) << "bytes were queued: the wait completed at once";
  EXPECT_EQ(m_port.TakeEventType(), kEventRxChar);
  EXPECT_EQ(ReadExactly(1), "q");
  ASSERT_EQ(m_port.SetReadMode(ReadNonBlocking), kResultOk);

  ASSERT_EQ(m_port.WaitForEvent(&record, kInfinite), kResultOk);
  EXPECT_FALSE(event.Wait(0)) << "the new wait is pending: nothing arrived since";
  ASSERT_TRUE(m_far.Send("r"));
  ASSERT_TRUE(event.Wait(kDeadlineMs));
  EXPECT_EQ(m_port.TakeEventType(), kEventRxChar);
  EXPECT_EQ(ReadExactly(1), "r");
}

// Where a wait ends empty (Wine without the shim: after about 5 ms) the port
// looks at the queue, so the arrival is still reported, within a bound.
TEST_F(SerialPortWin32Test, ArrivalIsReportedEvenWhereWaitsEndEmpty) {
  OpenPort();
  ASSERT_TRUE(m_far.Send("w"));
  uint32_t eventType = 0;
  for (int i = 0; i < 2000 && eventType != kEventRxChar; ++i) {
    ASSERT_EQ(m_port.WaitForEvent(nullptr, kDeadlineMs), kResultOk);
    eventType = m_port.TakeEventType();
    ASSERT_TRUE(eventType == kEventRxChar || eventType == 0) << eventType;
  }
  EXPECT_EQ(eventType, kEventRxChar);
  EXPECT_EQ(ReadExactly(1), "w");
}

TEST_F(SerialPortWin32Test, AsynchronousReadIsCollectedWithGetOverlappedResult) {
  OpenPort();
  ASSERT_EQ(m_port.SetReadMode(ReadBlocking), kResultOk);
  SerialEvent event;
  SerialOverlapped record;
  record.hEvent = &event;
  char buffer[3] = {};
  uint32_t count = 5;
  EXPECT_EQ(m_port.Read(buffer, 3, &count, &record, 0), kResultOk);
  EXPECT_EQ(count, 0u) << "pending";
  EXPECT_EQ(m_port.GetOverlappedResult(record, &count, false), kErrorIoIncomplete);
  ASSERT_TRUE(m_far.Send("abc"));
  EXPECT_EQ(m_port.GetOverlappedResult(record, &count, true), kResultOk);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(std::string(buffer, 3), "abc");
}

TEST_F(SerialPortWin32Test, RecordDestroyedWhilePendingCancelsItsOperation) {
  OpenPort();
  ASSERT_EQ(m_port.SetReadMode(ReadBlocking), kResultOk);
  SerialEvent event;
  {
    SerialOverlapped record;
    record.hEvent = &event;
    char buffer[8];
    ASSERT_EQ(m_port.Read(buffer, 8, nullptr, &record, 0), kResultOk);
  }
  ASSERT_TRUE(m_far.Send("zz"));
  EXPECT_EQ(ReadExactly(2), "zz");
}

}  // namespace
}  // namespace vexel

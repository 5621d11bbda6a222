// CSerialPort over real pseudo-terminals: the port opens the slave side, the
// test plays the far end on the master side.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>

#include "process_limits.h"
#include "serial/serial_port.h"
#include "serial/serial_wnd.h"
#include "support/child_process.h"
#include "support/proc_scan.h"
#include "support/pty.h"

namespace vexel {
namespace {

using test::PtyPair;

constexpr uint32_t kQueue = 2048;

class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_pty.IsOpen()); }

  void OpenPort() { ASSERT_EQ(m_port.Open(m_pty.SlavePath().c_str(), kQueue, kQueue), kResultOk); }

  // A blocking read of exactly @p length bytes, within the test's deadline.
  std::string ReadExactly(uint32_t length) {
    std::string bytes(length, '\0');
    uint32_t count = 0;
    EXPECT_EQ(m_port.SetReadMode(ReadBlocking), kResultOk);
    EXPECT_EQ(m_port.Read(bytes.data(), length, &count, nullptr, 10000), kResultOk);
    bytes.resize(count);
    return bytes;
  }

  PtyPair m_pty;
  CSerialPort m_port;
};

TEST_F(SerialPortTest, OpenAppliesTheDefaults) {
  OpenPort();
  EXPECT_TRUE(m_port.IsOpen());
  EXPECT_EQ(m_port.LastError(), kResultOk);
  EXPECT_EQ(m_port.GetEventMask(), 0x00C1u);
  EXPECT_EQ(m_port.GetBaudRate(), 9600);
  EXPECT_EQ(m_port.GetDataBits(), 8);
  EXPECT_EQ(m_port.GetParity(), kParityNone);
  EXPECT_EQ(m_port.GetStopBits(), kOneStopBit);
  EXPECT_EQ(m_port.GetFlowControl(), FlowNone);
  EXPECT_EQ(m_port.GetEventCharacter(), 0);
  // Non-blocking reads: a read of nothing returns at once, even unlimited.
  char byte = 'x';
  uint32_t count = 99;
  EXPECT_EQ(m_port.Read(&byte, 1, &count, nullptr, kInfinite), kResultOk);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(byte, 'x');
}

TEST_F(SerialPortTest, OpenDropsInputLeftOnTheLineFromBefore) {
  // A second descriptor of the line, raw, sees the stale bytes queued.
  const int line = ::open(m_pty.SlavePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(line, 0);
  termios raw{};
  ASSERT_EQ(::tcgetattr(line, &raw), 0);
  ::cfmakeraw(&raw);
  ASSERT_EQ(::tcsetattr(line, TCSANOW, &raw), 0);
  ASSERT_TRUE(m_pty.Send(std::string("\xB0\xEF\xAA\x01\x00", 5)));
  pollfd waiting{line, POLLIN, 0};
  ASSERT_EQ(::poll(&waiting, 1, 10000), 1);

  OpenPort();
  ::close(line);
  char byte = 'x';
  uint32_t count = 99;
  EXPECT_EQ(m_port.Read(&byte, 1, &count, nullptr, 0), kResultOk);
  EXPECT_EQ(count, 0u);
  ASSERT_TRUE(m_pty.Send("fresh"));
  EXPECT_EQ(ReadExactly(5), "fresh");
}

TEST_F(SerialPortTest, SecondOpenGivesAlreadyInitializedAndTheFirstKeepsWorking) {
  OpenPort();
  ASSERT_EQ(m_port.SetLineFormat(57600, 8, kParityNone, kTwoStopBits), kResultOk);
  EXPECT_EQ(m_port.Open(m_pty.SlavePath().c_str(), kQueue, kQueue), kErrorAlreadyInitialized);
  EXPECT_EQ(m_port.LastError(), kErrorAlreadyInitialized);
  EXPECT_EQ(m_port.Open("/dev/vexel-no-such-port", kQueue, kQueue), kErrorAlreadyInitialized);

  EXPECT_TRUE(m_port.IsOpen());
  EXPECT_EQ(m_port.GetBaudRate(), 57600);
  EXPECT_EQ(m_port.GetStopBits(), kTwoStopBits);
  uint32_t count = 0;
  EXPECT_EQ(m_port.Write("ping", &count, nullptr, kInfinite), kResultOk);
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(m_pty.Receive(4), "ping");
  ASSERT_TRUE(m_pty.Send("pong"));
  EXPECT_EQ(ReadExactly(4), "pong");
}

TEST_F(SerialPortTest, AHeldPortCannotBeOpenedByAnotherObjectOrProcess) {
  OpenPort();
  const int fdsBefore = test::OpenFdCount();
  CSerialPort other;
  EXPECT_EQ(other.Open(m_pty.SlavePath().c_str(), kQueue, kQueue), kErrorAccessDenied);
  EXPECT_FALSE(other.IsOpen());
  EXPECT_EQ(other.LastOsError(), EWOULDBLOCK);
  EXPECT_EQ(test::OpenFdCount(), fdsBefore) << "the failed open released its descriptor";

  EXPECT_EQ(test::RunInChild([this] {
              CSerialPort inChild;
              return static_cast<int>(inChild.Open(m_pty.SlavePath().c_str(), kQueue, kQueue));
            }),
            kErrorAccessDenied);

  EXPECT_EQ(m_port.Close(), kResultOk);
  EXPECT_EQ(other.Open(m_pty.SlavePath().c_str(), kQueue, kQueue), kResultOk)
      << "closing released the lock";
}

// Root gets past TIOCEXCL and is stopped by the lock; giving up there must not
// undo the holder's exclusive flag on the tty they share.
TEST_F(SerialPortTest, FailedSecondOpenLeavesTheHolderExclusive) {
  const std::string& path = m_pty.SlavePath();
  auto exclusive = [&path] {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == EBUSY;  // not root: the flag itself refused us
    int flag = 0;
    EXPECT_EQ(::ioctl(fd, TIOCGEXCL, &flag), 0);
    ::close(fd);
    return flag != 0;
  };
  OpenPort();
  ASSERT_TRUE(exclusive());
  for (int attempt = 0; attempt < 2; ++attempt) {
    CSerialPort other;
    EXPECT_EQ(other.Open(path.c_str(), kQueue, kQueue), kErrorAccessDenied);
    EXPECT_TRUE(exclusive()) << "after failed open " << attempt;
  }
  if (::geteuid() != 0) return;

  // Anyone else is still kept out.
  ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
  const auto openAsNobody = [&path] {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    return fd >= 0 ? 0 : errno;
  };
  EXPECT_EQ(test::RunInChild(openAsNobody, true), EBUSY) << "an unprivileged open of the held line";

  EXPECT_EQ(m_port.Close(), kResultOk);
  EXPECT_FALSE(exclusive()) << "the holder's Close gives the line free";
}

TEST_F(SerialPortTest, MissingPortGivesThePlatformCodeAndALaterOpenWorks) {
  const int fdsBefore = test::OpenFdCount();
  EXPECT_EQ(m_port.Open("/dev/vexel-no-such-port", kQueue, kQueue), kErrorFileNotFound);
  EXPECT_FALSE(m_port.IsOpen());
  EXPECT_EQ(m_port.LastError(), kErrorFileNotFound);
  EXPECT_EQ(m_port.LastOsError(), ENOENT);
  EXPECT_EQ(m_port.Close(), kResultOk);
  EXPECT_EQ(m_port.LastOsError(), ENOENT) << "Close keeps the OS error for the front end";

  EXPECT_EQ(m_port.Open("/dev/null", kQueue, kQueue), kErrorInvalidFunction) << "not a tty";
  EXPECT_EQ(m_port.LastOsError(), ENOTTY);
  EXPECT_EQ(test::OpenFdCount(), fdsBefore);

  OpenPort();
  EXPECT_EQ(m_port.LastOsError(), ENOTTY) << "successes keep it too";
}

TEST_F(SerialPortTest, ClosedPortRefusesEveryOperation) {
  struct Getter {
    const char* name;
    std::function<int64_t()> call;
    int64_t failure;
  };
  const Getter getters[] = {
      {"GetBaudRate", [this] { return m_port.GetBaudRate(); }, -1},
      {"GetDataBits", [this] { return m_port.GetDataBits(); }, -1},
      {"GetParity", [this] { return m_port.GetParity(); }, -1},
      {"GetStopBits", [this] { return m_port.GetStopBits(); }, -1},
      {"GetFlowControl", [this] { return m_port.GetFlowControl(); }, -1},
      {"GetEventMask", [this] { return m_port.GetEventMask(); }, 0},
      {"GetEventCharacter", [this] { return m_port.GetEventCharacter(); }, 0},
  };
  for (const Getter& getter : getters) {
    EXPECT_EQ(getter.call(), getter.failure) << getter.name;
    EXPECT_EQ(m_port.LastError(), kErrorInvalidHandle) << getter.name;
  }

  char buffer[4];
  uint32_t count = 7;
  const std::pair<const char*, std::function<int32_t()>> setters[] = {
      {"SetLineFormat", [this] { return m_port.SetLineFormat(9600, 8, kParityNone, kOneStopBit); }},
      {"SetFlowControl(3)", [this] { return m_port.SetFlowControl(static_cast<FlowControl>(3)); }},
      {"SetReadMode", [this] { return m_port.SetReadMode(ReadBlocking); }},
      {"SetEventMask", [this] { return m_port.SetEventMask(kEventRxChar); }},
      {"SetEventCharacter", [this] { return m_port.SetEventCharacter('\n', true); }},
      {"WaitForEvent", [this] { return m_port.WaitForEvent(nullptr, 0); }},
      {"Write", [&] { return m_port.Write("abc", &count, nullptr, 0); }},
      {"Read", [&] { return m_port.Read(buffer, 4, &count, nullptr, 0); }},
  };
  for (const auto& [name, call] : setters) {
    count = 7;
    EXPECT_EQ(call(), kErrorInvalidHandle) << name;
    EXPECT_EQ(m_port.LastError(), kErrorInvalidHandle) << name;
    EXPECT_EQ(count, std::strcmp(name, "Write") == 0 || std::strcmp(name, "Read") == 0 ? 0u : 7u)
        << name << ": a closed port reports a count of 0";
  }
  EXPECT_EQ(m_port.TakeEventType(), kNoEventType);
  EXPECT_EQ(m_port.Close(), kResultOk);
  EXPECT_EQ(m_port.LastError(), kResultOk);
}

TEST_F(SerialPortTest, SettingsRoundTripForWhatAPtyKeeps) {
  OpenPort();
  struct Format {
    uint32_t baud;
    uint8_t stopBits;
  };
  for (const Format& f : {Format{57600, kTwoStopBits}, Format{115200, kOneStopBit},
                          Format{1200, kTwoStopBits}, Format{9600, kOneStopBit}}) {
    ASSERT_EQ(m_port.SetLineFormat(f.baud, 8, kParityNone, f.stopBits), kResultOk);
    EXPECT_EQ(m_port.GetBaudRate(), static_cast<int32_t>(f.baud));
    EXPECT_EQ(m_port.GetDataBits(), 8);
    EXPECT_EQ(m_port.GetStopBits(), f.stopBits);
  }
  // A pty clears PARENB: the line then reads as kParityNone, whatever was asked.
  ASSERT_EQ(m_port.SetLineFormat(57600, 8, kParityEven, kTwoStopBits), kResultOk);
  EXPECT_EQ(m_port.GetParity(), kParityNone);
  EXPECT_EQ(m_port.GetStopBits(), kTwoStopBits);

  struct Flow {
    FlowControl mode;
    int32_t result;
  };
  for (const Flow& f : {Flow{FlowXonXoff, kResultOk}, Flow{FlowHardware, kErrorNotSupported},
                        Flow{FlowNone, kResultOk}, Flow{FlowHardware, kErrorNotSupported},
                        Flow{FlowXonXoff, kResultOk}}) {
    EXPECT_EQ(m_port.SetFlowControl(f.mode), f.result) << f.mode;
    EXPECT_EQ(m_port.GetFlowControl(), f.mode);
  }

  EXPECT_EQ(m_port.SetEventCharacter('\n', true), kResultOk);
  EXPECT_EQ(m_port.GetEventMask(), 0x00C3u);
  EXPECT_EQ(m_port.GetEventCharacter(), '\n');
  EXPECT_EQ(m_port.SetEventCharacter('x', false), kResultOk);
  EXPECT_EQ(m_port.GetEventMask(), 0x00C3u);
  EXPECT_EQ(m_port.GetEventCharacter(), 'x');
  EXPECT_EQ(m_port.GetBaudRate(), 57600) << "each setter changes only its own fields";
}

// Termios has no DTR/DSR handshaking, so the flow-control call that asks for
// it reports 50; the setters after it keep the handshaking fields as they
// read them and must not inherit that report.
TEST_F(SerialPortTest, OnlyTheCallAskingForDsrHandshakingReportsNotSupported) {
  OpenPort();
  EXPECT_EQ(m_port.SetFlowControl(FlowHardware), kErrorNotSupported);
  const std::pair<const char*, std::function<int32_t()>> later[] = {
      {"SetLineFormat",
       [this] { return m_port.SetLineFormat(57600, 8, kParityNone, kTwoStopBits); }},
      {"SetEventCharacter", [this] { return m_port.SetEventCharacter('\n', false); }},
      {"SetEventCharacter+mask", [this] { return m_port.SetEventCharacter('\r', true); }},
      {"SetReadMode", [this] { return m_port.SetReadMode(ReadBlocking); }},
      {"SetEventMask", [this] { return m_port.SetEventMask(0x00C3); }},
      {"SetLineFormat again",
       [this] { return m_port.SetLineFormat(1200, 8, kParityNone, kOneStopBit); }},
  };
  for (const auto& [name, call] : later) {
    EXPECT_EQ(call(), kResultOk) << name;
    EXPECT_EQ(m_port.LastError(), kResultOk) << name;
    EXPECT_EQ(m_port.GetFlowControl(), FlowHardware) << name << " kept the mode";
  }
  EXPECT_EQ(m_port.GetBaudRate(), 1200);
  EXPECT_EQ(m_port.GetEventCharacter(), '\r');
  EXPECT_EQ(m_port.GetEventMask(), 0x00C3u);
  EXPECT_EQ(m_port.SetFlowControl(FlowNone), kResultOk);
  EXPECT_EQ(m_port.SetFlowControl(FlowHardware), kErrorNotSupported) << "asked for again";
}

TEST_F(SerialPortTest, RefusedSettingsLeaveTheLineAsItWas) {
  OpenPort();
  ASSERT_EQ(m_port.SetLineFormat(57600, 8, kParityNone, kTwoStopBits), kResultOk);
  ASSERT_EQ(m_port.SetFlowControl(FlowXonXoff), kResultOk);

  EXPECT_EQ(m_port.SetFlowControl(static_cast<FlowControl>(3)), kErrorInvalidArg);
  EXPECT_EQ(m_port.LastError(), kErrorInvalidArg);
  EXPECT_EQ(m_port.GetFlowControl(), FlowXonXoff);
  EXPECT_EQ(m_port.SetReadMode(static_cast<ReadMode>(2)), kErrorInvalidArg);

  EXPECT_EQ(m_port.SetLineFormat(12345, 8, kParityNone, kOneStopBit), kErrorInvalidParameter);
  EXPECT_EQ(m_port.LastOsError(), EINVAL);
  EXPECT_EQ(m_port.SetLineFormat(9600, 8, kParityNone, kOne5StopBits), kErrorInvalidParameter);
  EXPECT_EQ(m_port.GetBaudRate(), 57600);
  EXPECT_EQ(m_port.GetStopBits(), kTwoStopBits);
}

TEST_F(SerialPortTest, BlockingReadThatTimesOutWritesNothingAndLosesNothing) {
  OpenPort();
  ASSERT_EQ(m_port.SetReadMode(ReadBlocking), kResultOk);
  char buffer[4] = {'#', '#', '#', '#'};
  uint32_t count = 99;
  EXPECT_EQ(m_port.Read(buffer, 4, &count, nullptr, 50), kErrorTimeout);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(m_port.LastError(), kErrorTimeout);

  ASSERT_TRUE(m_pty.Send("ab"));
  count = 99;
  EXPECT_EQ(m_port.Read(buffer, 4, &count, nullptr, 200), kErrorTimeout);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(std::string(buffer, 4), "####") << "nothing reached the buffer";

  ASSERT_TRUE(m_pty.Send("cd"));
  EXPECT_EQ(m_port.Read(buffer, 4, &count, nullptr, 10000), kResultOk);
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(std::string(buffer, 4), "abcd") << "the bytes of the timed-out read stayed queued";
}

// The tty's input buffer holds 4095 bytes: a longer blocking read has to take
// bytes off the tty before all have come, and a time-out must still leave
// them, in order, for the next read and nothing in the caller's buffer.
TEST_F(SerialPortTest, LongBlockingReadThatTimesOutLosesNothing) {
  OpenPort();
  ASSERT_EQ(m_port.SetReadMode(ReadBlocking), kResultOk);
  for (const uint32_t length : {100u, 4095u, 4096u, 4500u, 9000u}) {
    std::string sent(length, '\0');
    for (uint32_t i = 0; i < length; ++i) sent[i] = static_cast<char>('A' + i * 7 % 53);
    ASSERT_TRUE(m_pty.Send(sent.substr(0, length - 10))) << length;

    std::string buffer(length, '#');
    uint32_t count = 99;
    EXPECT_EQ(m_port.Read(buffer.data(), length, &count, nullptr, 300), kErrorTimeout) << length;
    EXPECT_EQ(count, 0u) << length;
    EXPECT_EQ(buffer.find_first_not_of('#'), std::string::npos)
        << length << ": nothing reached the buffer";

    ASSERT_TRUE(m_pty.Send(sent.substr(length - 10))) << length;
    EXPECT_EQ(m_port.Read(buffer.data(), length, &count, nullptr, 10000), kResultOk) << length;
    EXPECT_EQ(count, length);
    EXPECT_TRUE(buffer == sent) << length << ": every byte came once, in order";
  }
}

// Reads that return at once take all the tty has queued in one go and serve
// the rest from there: the bytes still come in order, none twice, none lost,
// whichever kind of read asks next.
TEST_F(SerialPortTest, BytesReadAheadComeInOrderToEveryKindOfRead) {
  OpenPort();
  auto read = [this](uint32_t length, uint32_t timeoutMs, int32_t expected) {
    std::string bytes(length, '#');
    uint32_t count = 0;
    EXPECT_EQ(m_port.Read(bytes.data(), length, &count, nullptr, timeoutMs), expected);
    bytes.resize(count);
    return bytes;
  };
  ASSERT_TRUE(m_pty.Send("abcdefgh"));
  EXPECT_EQ(ReadExactly(1), "a") << "waits for the arrival";
  ASSERT_EQ(m_port.SetReadMode(ReadNonBlocking), kResultOk);
  EXPECT_EQ(read(2, 0, kResultOk), "bc");
  EXPECT_EQ(read(1, 0, kResultOk), "d");
  EXPECT_EQ(read(10, 0, kResultOk), "efgh");
  EXPECT_EQ(read(10, 0, kResultOk), "");

  // A blocking read that cannot be met leaves what was read ahead in place.
  ASSERT_TRUE(m_pty.Send("ijk"));
  EXPECT_EQ(ReadExactly(1), "i");
  ASSERT_EQ(m_port.SetReadMode(ReadNonBlocking), kResultOk);
  EXPECT_EQ(read(1, 0, kResultOk), "j");
  ASSERT_EQ(m_port.SetReadMode(ReadBlocking), kResultOk);
  EXPECT_EQ(read(3, 50, kErrorTimeout), "");
  ASSERT_TRUE(m_pty.Send("lm"));
  EXPECT_EQ(ReadExactly(3), "klm");
}

TEST_F(SerialPortTest, WritesAndReadsWithAndWithoutACount) {
  OpenPort();
  uint32_t count = 77;
  EXPECT_EQ(m_port.Write("", &count, nullptr, kInfinite), kResultOk);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(m_port.Write("hello", nullptr, nullptr, kInfinite), kResultOk);
  const uint8_t binary[] = {0xB0, 0xEF, 0x00, 0x0A, 0x0D, 0xFF};
  EXPECT_EQ(m_port.Write(binary, sizeof binary, &count, nullptr, kInfinite), kResultOk);
  EXPECT_EQ(count, sizeof binary);
  EXPECT_EQ(m_pty.Receive(11), std::string("hello\xB0\xEF\x00\x0A\x0D\xFF", 11))
      << "bytes leave raw";

  ASSERT_TRUE(m_pty.Send(std::string("\x00\x0D\x0A\x11\x7F", 5)));
  ASSERT_EQ(m_port.SetReadMode(ReadBlocking), kResultOk);
  char received[5] = {};
  EXPECT_EQ(m_port.Read(received, 5, nullptr, nullptr, 10000), kResultOk);
  EXPECT_EQ(std::string(received, 5), std::string("\x00\x0D\x0A\x11\x7F", 5)) << "bytes arrive raw";
}

TEST_F(SerialPortTest, AsynchronousWaitIsSignalledWhenAByteArrives) {
  OpenPort();
  SerialEvent event;
  ASSERT_TRUE(event.IsValid());
  SerialOverlapped record;
  record.hEvent = &event;
  EXPECT_EQ(m_port.WaitForEvent(&record, kInfinite), kResultOk);
  EXPECT_FALSE(event.Wait(0)) << "pending until something arrives";
  EXPECT_EQ(m_port.TakeEventType(), kNoEventType);

  ASSERT_TRUE(m_pty.Send("x"));
  ASSERT_TRUE(event.Wait(10000));
  EXPECT_EQ(m_port.TakeEventType(), kEventRxChar);
  EXPECT_EQ(m_port.TakeEventType(), kNoEventType);

  EXPECT_EQ(ReadExactly(1), "x");

  // The synchronous form: nothing arrives in time, then something does.
  EXPECT_EQ(m_port.WaitForEvent(nullptr, 50), kErrorTimeout);
  EXPECT_EQ(m_port.LastError(), kErrorTimeout);
  ASSERT_TRUE(m_pty.Send("y"));
  EXPECT_EQ(m_port.WaitForEvent(nullptr, 10000), kResultOk);
  EXPECT_EQ(m_port.TakeEventType(), kEventRxChar);
  EXPECT_EQ(ReadExactly(1), "y");
}

TEST_F(SerialPortTest, AsynchronousReadIsCollectedWithGetOverlappedResult) {
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

  ASSERT_TRUE(m_pty.Send("abc"));
  EXPECT_EQ(m_port.GetOverlappedResult(record, &count, true), kResultOk);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(std::string(buffer, 3), "abc");

  SerialEvent writeEvent;
  SerialOverlapped writeRecord;
  writeRecord.hEvent = &writeEvent;
  EXPECT_EQ(m_port.Write("out", 3, &count, &writeRecord, 0), kResultOk);
  EXPECT_EQ(count, 3u) << "a tty takes a short write at once";
  EXPECT_TRUE(writeEvent.Wait(0));
  EXPECT_EQ(m_pty.Receive(3), "out");
}

// A caller waiting on its record's event without a limit must be woken when
// the port closes under its operation: it completes as cancelled.
TEST_F(SerialPortTest, CloseSignalsTheEventsOfPendingOperations) {
  OpenPort();
  ASSERT_EQ(m_port.SetReadMode(ReadBlocking), kResultOk);
  SerialEvent readEvent;
  SerialEvent waitEvent;
  SerialOverlapped readRecord;
  SerialOverlapped waitRecord;
  readRecord.hEvent = &readEvent;
  waitRecord.hEvent = &waitEvent;
  char buffer[8] = {};
  ASSERT_EQ(m_port.Read(buffer, 8, nullptr, &readRecord, 0), kResultOk);
  ASSERT_EQ(m_port.WaitForEvent(&waitRecord, kInfinite), kResultOk);
  ASSERT_FALSE(readEvent.Wait(0));
  ASSERT_FALSE(waitEvent.Wait(0));

  EXPECT_EQ(m_port.Close(), kResultOk);
  EXPECT_TRUE(readEvent.Wait(0)) << "the pending read was completed";
  EXPECT_TRUE(waitEvent.Wait(0)) << "the pending event wait was completed";

  OpenPort();
  uint32_t count = 7;
  EXPECT_EQ(m_port.GetOverlappedResult(readRecord, &count, false), kErrorOperationAborted);
  EXPECT_EQ(count, 0u);
}

// A wait whose poll() fails reports the OS error, not a time-out: here no
// descriptor may be polled at all.
TEST_F(SerialPortTest, FailedPollInAWaitReportsTheOsError) {
  OpenPort();
  ASSERT_EQ(m_port.SetReadMode(ReadBlocking), kResultOk);
  const std::pair<const char*, std::function<int32_t()>> waits[] = {
      {"WaitForEvent", [this] { return m_port.WaitForEvent(nullptr, 10000); }},
      {"Read",
       [this] {
         char buffer[4];
         return m_port.Read(buffer, 4, nullptr, nullptr, 10000);
       }},
  };
  for (const auto& [name, call] : waits) {
    test::OpenFileLimit limit(test::OpenFileLimit::kNoPoll);
    ASSERT_TRUE(limit.Applied());
    const int32_t result = call();
    limit.Lift();
    EXPECT_EQ(result, kErrorInvalidParameter) << name;
    EXPECT_EQ(m_port.LastError(), kErrorInvalidParameter) << name;
    EXPECT_EQ(m_port.LastOsError(), EINVAL) << name;
  }
  ASSERT_TRUE(m_pty.Send("ok"));
  EXPECT_EQ(ReadExactly(2), "ok") << "the failed waits were cancelled";
}

TEST_F(SerialPortTest, RecordDestroyedWhilePendingCancelsItsOperation) {
  OpenPort();
  ASSERT_EQ(m_port.SetReadMode(ReadBlocking), kResultOk);
  SerialEvent event;
  {
    SerialOverlapped record;
    record.hEvent = &event;
    char buffer[8];
    ASSERT_EQ(m_port.Read(buffer, 8, nullptr, &record, 0), kResultOk);
  }
  ASSERT_TRUE(m_pty.Send("zz"));
  EXPECT_EQ(ReadExactly(2), "zz");
}

TEST_F(SerialPortTest, HungUpLineFailsReadsAndWrites) {
  OpenPort();
  m_pty.HangUp();
  char byte = 0;
  uint32_t count = 5;
  EXPECT_EQ(m_port.Read(&byte, 1, &count, nullptr, 0), kErrorIoDevice);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(m_port.Write("x", &count, nullptr, kInfinite), kErrorIoDevice);
  EXPECT_EQ(m_port.LastOsError(), EIO);
  EXPECT_EQ(m_port.Close(), kResultOk);
}

// The line may be a terminal someone uses (their own, by name): whatever the
// port did to it, closing gives it back its settings, also when an open
// fails after the defaults were applied.
TEST_F(SerialPortTest, CloseRestoresTheTerminalSettingsItFound) {
  const int fd = ::open(m_pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  termios known{};
  ASSERT_EQ(::tcgetattr(fd, &known), 0);
  known.c_iflag |= ICRNL | IXON;
  known.c_oflag |= OPOST | ONLCR;
  known.c_lflag |= ICANON | ECHO | ECHOE | ISIG | IEXTEN;
  known.c_cflag |= CSTOPB;
  known.c_cc[VMIN] = 3;
  known.c_cc[VTIME] = 7;
  ASSERT_EQ(::cfsetspeed(&known, B2400), 0);
  ASSERT_EQ(::tcsetattr(fd, TCSANOW, &known), 0);
  ASSERT_EQ(::tcgetattr(fd, &known), 0);  // as the pty keeps them

  const std::pair<const char*, std::function<void()>> runs[] = {
      {"open, close",
       [this] {
         OpenPort();
         EXPECT_EQ(m_port.Close(), kResultOk);
       }},
      {"open, set up, close",
       [this] {
         OpenPort();
         EXPECT_EQ(m_port.SetLineFormat(57600, 8, kParityEven, kTwoStopBits), kResultOk);
         EXPECT_EQ(m_port.SetFlowControl(FlowXonXoff), kResultOk);
         EXPECT_EQ(m_port.SetReadMode(ReadBlocking), kResultOk);
         EXPECT_EQ(m_port.Close(), kResultOk);
       }},
      {"destroyed open",
       [this] {
         CSerialPort port;
         ASSERT_EQ(port.Open(m_pty.SlavePath().c_str(), kQueue, kQueue), kResultOk);
         EXPECT_EQ(port.SetLineFormat(57600, 8, kParityNone, kOneStopBit), kResultOk);
       }},
      {"open that fails after the defaults",
       [this] {
         CSerialCWnd port;
         test::OpenFileLimit limit(3);  // the line and its event; none for the watcher's
         ASSERT_TRUE(limit.Applied());
         const int32_t result = port.Open(m_pty.SlavePath().c_str(), nullptr, 0, 0, kQueue, kQueue);
         limit.Lift();
         EXPECT_EQ(result, kErrorTooManyOpenFiles);
         EXPECT_FALSE(port.IsOpen());
       }},
  };
  for (const auto& [name, run] : runs) {
    run();
    termios after{};
    ASSERT_EQ(::tcgetattr(fd, &after), 0);
    EXPECT_EQ(after.c_iflag, known.c_iflag) << name;
    EXPECT_EQ(after.c_oflag, known.c_oflag) << name;
    EXPECT_EQ(after.c_cflag, known.c_cflag) << name;
    EXPECT_EQ(after.c_lflag, known.c_lflag) << name;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(after.c_cc), NCCS),
              std::string(reinterpret_cast<const char*>(known.c_cc), NCCS))
        << name;
    EXPECT_EQ(::cfgetospeed(&after), B2400) << name;
  }
  ::close(fd);
}

}  // namespace
}  // namespace vexel

// Every arrival reaches the owner of a line served by its event loop, however
// the event waits end. Under Wine the test runs plainly (idle waits end empty
// after about a millisecond) and once more in the test shim's late-return
// mode (tests/wine/modem_lines_preload.c), in which every idle wait ends
// before the call that armed it has returned: Wine then leaves the wait's
// event signalled and the wait pending for good, as it does now and then on
// a busy machine.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "com_pair_win32.h"
#include "serial/serial_loop_line.h"

namespace vexel {
namespace {

using test::kDeadlineMs;
using test::kQueue;

// The loader's loop reduced to one line: its handle, waited on by the test.
class OneLineLoop final : public LineEventLoop {
 public:
  int WatchLine(intptr_t handle, CSerialLoopLine&) override {
    m_handle = reinterpret_cast<HANDLE>(handle);
    return 0;
  }
  void UnwatchLine(intptr_t) override { m_handle = nullptr; }
  HANDLE Handle() const { return m_handle; }

 private:
  HANDLE m_handle = nullptr;
};

class WaitRaceWin32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    VEXEL_REQUIRE_COM_PAIR(m_far);
    m_line.SetEventLoop(&m_loop);
    ASSERT_EQ(m_line.Open(test::NearPort().c_str(), nullptr, 0, 0, kQueue, kQueue), kResultOk);
  }

  // Serves the line as the loader's loop does, each time its handle is
  // signalled, until a service reports an arrival; false at the deadline.
  bool ServeUntilArrival() {
    const ULONGLONG end = ::GetTickCount64() + kDeadlineMs;
    for (ULONGLONG now = ::GetTickCount64(); now < end; now = ::GetTickCount64()) {
      if (m_loop.Handle() == nullptr) return false;  // the line is no longer watched
      if (::WaitForSingleObject(m_loop.Handle(), static_cast<DWORD>(end - now)) != WAIT_OBJECT_0) {
        return false;
      }
      if ((m_line.Service() & kEventRxChar) != 0) return true;
    }
    return false;
  }

  std::string ReadAll() {
    char buffer[64];
    uint32_t count = 0;
    EXPECT_EQ(m_line.Read(buffer, sizeof buffer, &count, nullptr, 0), kResultOk);
    return std::string(buffer, count);
  }

  test::FarEnd m_far;
  OneLineLoop m_loop;
  CSerialLoopLine m_line;
};

TEST_F(WaitRaceWin32Test, EveryArrivalIsReportedWhateverTheWaitsDo) {
  for (char byte = 'a'; byte <= 't'; ++byte) {
    ASSERT_TRUE(m_far.Send(std::string(1, byte)));
    // A report may come twice for one arrival (a wait that ended with the
    // event while the queue was being looked at): the second finds nothing
    // to read, which costs the owner one empty read and loses nothing.
    std::string received;
    while (received.empty()) {
      ASSERT_TRUE(ServeUntilArrival()) << "the arrival of '" << byte << "' was never reported";
      received = ReadAll();
    }
    EXPECT_EQ(received, std::string(1, byte));
  }
  EXPECT_TRUE(m_line.Watched());
}

}  // namespace
}  // namespace vexel

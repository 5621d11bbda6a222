#include <windows.h>

#include "wait_handle.h"

namespace vexel::cli::test {
namespace {

HANDLE Native(WaitHandle handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

// Not INVALID_HANDLE_VALUE: that is also the current process, a valid handle.
const WaitHandle kNoHandle = 0;
const int kNoHandleError = ERROR_INVALID_HANDLE;
const int kWatchedTwiceError = ERROR_ALREADY_EXISTS;

TestWaitHandle::TestWaitHandle()
    : m_handle(reinterpret_cast<WaitHandle>(::CreateEventW(nullptr, TRUE, FALSE, nullptr))) {}
TestWaitHandle::~TestWaitHandle() { ::CloseHandle(Native(m_handle)); }

void TestWaitHandle::Signal() const { ::SetEvent(Native(m_handle)); }
void TestWaitHandle::Take() const { ::ResetEvent(Native(m_handle)); }

}  // namespace vexel::cli::test

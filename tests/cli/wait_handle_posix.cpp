#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "wait_handle.h"

namespace vexel::cli::test {

const WaitHandle kNoHandle = -1;
const int kNoHandleError = EBADF;
const int kWatchedTwiceError = EEXIST;

TestWaitHandle::TestWaitHandle() : m_handle(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
TestWaitHandle::~TestWaitHandle() { ::close(static_cast<int>(m_handle)); }

void TestWaitHandle::Signal() const {
  const uint64_t one = 1;
  (void)::write(static_cast<int>(m_handle), &one, sizeof one);
}

void TestWaitHandle::Take() const {
  uint64_t value = 0;
  (void)::read(static_cast<int>(m_handle), &value, sizeof value);
}

}  // namespace vexel::cli::test

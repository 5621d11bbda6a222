// A stand-in for a line's wait handle in the event loop's tests, signalled
// and taken by hand: an eventfd on Linux, a manual-reset event on Windows
// (wait_handle_posix.cpp, wait_handle_win32.cpp).
#pragma once

#include "loop/event_loop.h"

namespace vexel::cli::test {

class TestWaitHandle {
 public:
  TestWaitHandle();
  ~TestWaitHandle();
  TestWaitHandle(const TestWaitHandle&) = delete;
  TestWaitHandle& operator=(const TestWaitHandle&) = delete;

  WaitHandle Get() const { return m_handle; }
  void Signal() const;
  void Take() const;

 private:
  WaitHandle m_handle;
};

/// A value no handle has, and the OS errors Watch gives for it and for a
/// handle watched twice.
extern const WaitHandle kNoHandle;
extern const int kNoHandleError;
extern const int kWatchedTwiceError;

}  // namespace vexel::cli::test

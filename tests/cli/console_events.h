// Console control events sent to the test's own process.
#pragma once

#include <windows.h>

#include <atomic>

namespace vexel::cli::test {

/// Stands, for its lifetime, for the handling that was there before the
/// loader's: it counts the control events that reach it and takes them, so
/// that none ends the test process.
class EarlierConsoleHandler {
 public:
  EarlierConsoleHandler() {
    // A console of the test's own, so that the events reach this process
    // only (not ctest, nor a shell sharing the console), and one that takes
    // them: under Wine the console a process inherits from a Unix terminal
    // or pipe refuses GenerateConsoleCtrlEvent (error 12). Output goes on
    // through the standard handles, which are pipes or files under ctest.
    // Once per process: a second console made the same way takes no events.
    static const bool s_ownConsole = [] {
      ::FreeConsole();
      return ::AllocConsole() != 0;
    }();
    (void)s_ownConsole;
    ::SetConsoleCtrlHandler(nullptr, FALSE);  // Ctrl-C not ignored
    m_installed = ::SetConsoleCtrlHandler(&Handler, TRUE) != 0;
    s_calls = 0;
  }
  ~EarlierConsoleHandler() {
    if (m_installed) ::SetConsoleCtrlHandler(&Handler, FALSE);
  }
  EarlierConsoleHandler(const EarlierConsoleHandler&) = delete;
  EarlierConsoleHandler& operator=(const EarlierConsoleHandler&) = delete;

  static int Calls() { return s_calls; }
  /// False when the process has no console to send @p event through.
  static bool Send(DWORD event) { return ::GenerateConsoleCtrlEvent(event, 0) != 0; }

 private:
  static BOOL WINAPI Handler(DWORD) {
    ++s_calls;
    return TRUE;
  }
  static inline std::atomic<int> s_calls{0};
  bool m_installed = false;
};

}  // namespace vexel::cli::test

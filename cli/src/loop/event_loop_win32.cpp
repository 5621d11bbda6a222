// The event loop on Windows: WaitForMultipleObjects on an event that Post
// sets and on the lines' event handles (manual-reset: each stays signalled
// until its line is served), with the next timer's deadline as the time-out.
// Ctrl-C, Ctrl-Break and closing the console come from the console's
// control handler thread as a posted call.
#include <windows.h>

#include <atomic>

#include "loop/event_loop_core.h"

namespace vexel::cli {
namespace {

// An owned event handle.
class UniqueEvent {
 public:
  explicit UniqueEvent(BOOL manualReset)
      : m_handle(::CreateEventW(nullptr, manualReset, FALSE, nullptr)) {}
  ~UniqueEvent() {
    if (m_handle != nullptr) ::CloseHandle(m_handle);
  }
  UniqueEvent(const UniqueEvent&) = delete;
  UniqueEvent& operator=(const UniqueEvent&) = delete;
  HANDLE get() const { return m_handle; }

 private:
  HANDLE m_handle;
};

// One wait takes the post event and at most this many lines.
constexpr size_t kMaxWatched = MAXIMUM_WAIT_OBJECTS - 1;
// Windows ends the process a few seconds after a close event's handler was
// called; the ports are closed well before.
constexpr DWORD kCloseGraceMs = 4000;

class Win32EventLoop;
std::atomic<Win32EventLoop*> g_interruptLoop{nullptr};

BOOL WINAPI OnConsoleControl(DWORD type);

class Win32EventLoop final : public EventLoopCore {
 public:
  explicit Win32EventLoop(LoopClock& clock)
      : EventLoopCore(clock), m_post(FALSE), m_settled(TRUE) {}
  ~Win32EventLoop() override { ReleaseInterrupts(); }

  int Watch(WaitHandle handle, Callback onSignalled) override {
    if (m_post.get() == nullptr) return ERROR_INVALID_HANDLE;
    if (IsWatched(handle)) return ERROR_ALREADY_EXISTS;
    if (Watched().size() >= kMaxWatched) return ERROR_NO_SYSTEM_RESOURCES;
    // An invalid handle would fail every later wait; refuse it here.
    if (::WaitForSingleObject(reinterpret_cast<HANDLE>(handle), 0) == WAIT_FAILED) {
      return static_cast<int>(::GetLastError());
    }
    AddHandler(handle, std::move(onSignalled));
    return 0;
  }

  void Unwatch(WaitHandle handle) override { RemoveHandler(handle); }

  bool CatchInterrupts(std::function<void(int)> onInterrupt) override {
    ReleaseInterrupts();
    Win32EventLoop* expected = nullptr;
    if (!g_interruptLoop.compare_exchange_strong(expected, this)) return false;
    m_onInterrupt = std::move(onInterrupt);
    ::ResetEvent(m_settled.get());
    m_installed = ::SetConsoleCtrlHandler(OnConsoleControl, TRUE) != 0;
    if (!m_installed) g_interruptLoop = nullptr;
    return m_installed;
  }

  void ReleaseInterrupts() override {
    RestoreHandler();
    ::SetEvent(m_settled.get());  // a close event's handler need not wait any longer
  }

  // On the control handler's thread.
  BOOL Control(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) {
      return FALSE;
    }
    Post([this, type] { Interrupted(type); });
    if (type == CTRL_CLOSE_EVENT) ::WaitForSingleObject(m_settled.get(), kCloseGraceMs);
    return TRUE;
  }

 protected:
  void WaitAndDispatch(int timeoutMs) override {
    const auto watched = Watched();
    HANDLE handles[MAXIMUM_WAIT_OBJECTS];
    handles[0] = m_post.get();
    for (size_t i = 0; i < watched.size(); ++i) {
      handles[i + 1] = reinterpret_cast<HANDLE>(watched[i].first);
    }
    const DWORD count = static_cast<DWORD>(watched.size() + 1);
    const DWORD result = ::WaitForMultipleObjects(
        count, handles, FALSE, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
    if (result == WAIT_TIMEOUT || result == WAIT_FAILED || result >= WAIT_OBJECT_0 + count) return;
    if (result == WAIT_OBJECT_0) {
      WakeUpTaken();
      return RunPosted();
    }
    // The wait names only the first signalled handle; the others are asked
    // in turn after it, so that a busy line cannot starve the ones behind it.
    const size_t first = result - WAIT_OBJECT_0 - 1;
    for (size_t n = 0; n < watched.size(); ++n) {
      const size_t i = (first + n) % watched.size();
      if (n > 0 && ::WaitForSingleObject(handles[i + 1], 0) != WAIT_OBJECT_0) continue;
      CallHandler(watched[i].second);
    }
  }

  void WakeUp() override { ::SetEvent(m_post.get()); }

 private:
  void Interrupted(DWORD type) {
    RestoreHandler();
    if (m_onInterrupt) m_onInterrupt(static_cast<int>(type));
    ::SetEvent(m_settled.get());
  }

  void RestoreHandler() {
    if (!m_installed) return;
    m_installed = false;
    ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    g_interruptLoop = nullptr;
  }

  UniqueEvent m_post;
  UniqueEvent m_settled;
  std::function<void(int)> m_onInterrupt;
  bool m_installed = false;
};

BOOL WINAPI OnConsoleControl(DWORD type) {
  Win32EventLoop* loop = g_interruptLoop.load();
  return loop != nullptr ? loop->Control(type) : FALSE;
}

}  // namespace

std::unique_ptr<EventLoop> EventLoop::Create(LoopClock& clock) {
  return std::make_unique<Win32EventLoop>(clock);
}

}  // namespace vexel::cli

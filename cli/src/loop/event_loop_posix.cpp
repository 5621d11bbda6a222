// The event loop on Linux: one epoll set holds the lines' wait descriptors
// (each an epoll set of its own, so the tty sits one level below the loop),
// an eventfd that Post signals, and the read end of the signal pipe; the
// next timer's deadline is epoll_wait's time-out.
#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>

#include "loop/event_loop_core.h"

namespace vexel::cli {
namespace {

constexpr uint64_t kWakeKey = 0;  // handler keys start at 1
constexpr int kBatch = 64;
constexpr int kPollMs = 10;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];

std::atomic<int> g_signalPipe{-1};

extern "C" void OnSignal(int signo) {
  const int saved = errno;
  const auto byte = static_cast<unsigned char>(signo);
  const int fd = g_signalPipe.load();
  if (fd >= 0) {
    [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
  }
  errno = saved;
}

class PosixEventLoop final : public EventLoopCore {
 public:
  explicit PosixEventLoop(LoopClock& clock) : EventLoopCore(clock) {
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    m_wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_createError = (m_epoll < 0 || m_wake < 0) ? errno : 0;
    if (m_createError == 0) m_createError = Add(m_wake, kWakeKey);
  }

  ~PosixEventLoop() override {
    ReleaseInterrupts();
    for (int fd : {m_epoll, m_wake, m_signalPipe[0], m_signalPipe[1]}) {
      if (fd >= 0) ::close(fd);
    }
  }

  int Watch(WaitHandle handle, Callback onSignalled) override {
    if (m_createError != 0) return m_createError;
    if (IsWatched(handle)) return EEXIST;
    const uint64_t key = AddHandler(handle, std::move(onSignalled));
    const int error = Add(static_cast<int>(handle), key);
    if (error != 0) RemoveHandler(handle);
    return error;
  }

  void Unwatch(WaitHandle handle) override {
    if (RemoveHandler(handle) == 0) return;
    ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, static_cast<int>(handle), nullptr);
  }

  bool CatchInterrupts(std::function<void(int)> onInterrupt) override {
    ReleaseInterrupts();
    if (m_signalPipe[0] < 0 && ::pipe2(m_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    if (Watch(m_signalPipe[0], [this] { DrainSignals(); }) != 0) return false;
    m_onInterrupt = std::move(onInterrupt);
    g_signalPipe = m_signalPipe[1];
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    m_installed = true;
    bool all = true;
    for (int i = 0; i < kSignalCount; ++i) {
      m_old[i].sa_handler = SIG_DFL;  // restored even if installing it fails
      all = ::sigaction(kSignals[i], &action, &m_old[i]) == 0 && all;
    }
    return all;
  }

  void ReleaseInterrupts() override {
    RestoreHandlers();
    if (m_signalPipe[0] >= 0) Unwatch(m_signalPipe[0]);
  }

 protected:
  void WaitAndDispatch(int timeoutMs) override {
    if (m_epoll < 0) {  // nothing can be watched: only timers and posts, polled
      ::poll(nullptr, 0, timeoutMs < 0 || timeoutMs > kPollMs ? kPollMs : timeoutMs);
      return;
    }
    epoll_event ready[kBatch];
    const int n = ::epoll_wait(m_epoll, ready, kBatch, timeoutMs);
    for (int i = 0; i < n; ++i) {
      if (ready[i].data.u64 == kWakeKey) {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t r = ::read(m_wake, &count, sizeof count);
        WakeUpTaken();
        RunPosted();
      } else {
        CallHandler(ready[i].data.u64);
      }
    }
  }

  void WakeUp() override {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_wake, &one, sizeof one);
  }

 private:
  // Level-triggered: a handle stays ready until its owner serves it.
  int Add(int fd, uint64_t key) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = key;
    return ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event) == 0 ? 0 : errno;
  }

  void DrainSignals() {
    unsigned char received[16];
    ssize_t n;
    while ((n = ::read(m_signalPipe[0], received, sizeof received)) > 0) {
      RestoreHandlers();
      for (ssize_t i = 0; i < n; ++i) {
        if (m_onInterrupt) m_onInterrupt(received[i]);
      }
    }
  }

  void RestoreHandlers() {
    if (!m_installed) return;
    m_installed = false;
    for (int i = 0; i < kSignalCount; ++i) ::sigaction(kSignals[i], &m_old[i], nullptr);
    g_signalPipe = -1;
  }

  int m_epoll = -1;
  int m_wake = -1;
  int m_createError = 0;
  int m_signalPipe[2] = {-1, -1};
  std::function<void(int)> m_onInterrupt;
  struct sigaction m_old[kSignalCount] {};
  bool m_installed = false;
};

}  // namespace

std::unique_ptr<EventLoop> EventLoop::Create(LoopClock& clock) {
  return std::make_unique<PosixEventLoop>(clock);
}

}  // namespace vexel::cli

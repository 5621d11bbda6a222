// SerialEvent on Linux: an epoll set that holds an eventfd (Set/Reset) and,
// while operations use the event, the line edge-triggered. The set's own
// descriptor polls readable while the event is signalled, so one poll() can
// wait on several events.
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>

#include "comm_api.h"
#include "event_access_posix.h"

namespace vexel {

struct SerialEvent::Impl {
  int pollFd = -1;    // the epoll set a waiter polls
  int signalFd = -1;  // Set and Reset; level-triggered in the set
  // True from a Set until the Reset that takes it, so that a Reset of an
  // event that is not signalled (most of them) costs no system call.
  std::atomic<bool> setPending{false};
  // The line registered in the set, and for what.
  uint64_t armedLine = 0;
  int armedFd = -1;
  uint32_t armedEvents = 0;
};

namespace {

constexpr uint64_t kSignalKey = 0;
constexpr uint64_t kLineKey = 1;

int PollTimeout(uint32_t timeoutMs) {
  if (timeoutMs == kInfinite) return -1;
  return timeoutMs > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(timeoutMs);
}

// poll() that resumes after a signal with the time that is left.
int PollFor(pollfd* fds, nfds_t count, uint32_t timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(PollTimeout(timeoutMs));
  int timeout = PollTimeout(timeoutMs);
  for (;;) {
    int n = ::poll(fds, count, timeout);
    if (n >= 0 || errno != EINTR) return n;
    if (timeout < 0) continue;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    timeout = left.count() > 0 ? static_cast<int>(left.count()) : 0;
  }
}

int AddSignal(int pollFd, int signalFd) {
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = kSignalKey;
  return ::epoll_ctl(pollFd, EPOLL_CTL_ADD, signalFd, &ev);
}

}  // namespace

SerialEvent::SerialEvent() : m_impl(new Impl) {
  m_impl->pollFd = ::epoll_create1(EPOLL_CLOEXEC);
  if (m_impl->pollFd >= 0) m_impl->signalFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (m_impl->signalFd >= 0 && AddSignal(m_impl->pollFd, m_impl->signalFd) == 0) return;
  m_createResult = comm::RecordOsError(errno);
  if (m_impl->signalFd >= 0) ::close(m_impl->signalFd);
  if (m_impl->pollFd >= 0) ::close(m_impl->pollFd);
  m_impl->signalFd = m_impl->pollFd = -1;
}

SerialEvent::~SerialEvent() {
  if (m_impl->signalFd >= 0) ::close(m_impl->signalFd);
  if (m_impl->pollFd >= 0) ::close(m_impl->pollFd);
  delete m_impl;
}

bool SerialEvent::IsValid() const { return m_impl->pollFd >= 0; }

// The descriptor is written before the flag is raised: a Reset that misses
// the flag leaves the event signalled, as if the Set had come after it, and
// the next Reset takes it.
void SerialEvent::Set() {
  const uint64_t one = 1;
  ssize_t n = ::write(m_impl->signalFd, &one, sizeof one);
  (void)n;  // only a counter at its limit refuses, and it is signalled then
  m_impl->setPending.store(true);
}

void SerialEvent::Reset() { comm::EventAccess::TakeSignal(*this); }

bool SerialEvent::Wait(uint32_t timeoutMs) {
  return comm::EventAccess::WaitFor(*this, timeoutMs) > 0;
}

int SerialEvent::WaitAny(SerialEvent* const* events, int count, uint32_t timeoutMs) {
  constexpr int kMaxEvents = 8;
  if (count <= 0 || count > kMaxEvents) return -2;
  pollfd fds[kMaxEvents] = {};
  for (int i = 0; i < count; ++i) fds[i] = {events[i]->m_impl->pollFd, POLLIN, 0};
  int n = PollFor(fds, static_cast<nfds_t>(count), timeoutMs);
  if (n < 0) return -2;
  for (int i = 0; i < count; ++i) {
    if ((fds[i].revents & POLLIN) != 0) return i;  // list order: the first entry wins a tie
  }
  return n == 0 ? -1 : -2;
}

intptr_t SerialEvent::NativeHandle() const { return m_impl->pollFd; }

namespace comm {

int EventAccess::Arm(SerialEvent& event, int fd, uint64_t lineSerial, uint32_t events) {
  SerialEvent::Impl& e = *event.m_impl;
  if (e.armedLine == lineSerial && e.armedEvents == events) return 0;
  epoll_event ev{};
  ev.events = events | EPOLLET;
  ev.data.u64 = kLineKey;
  int op = EPOLL_CTL_MOD;
  if (e.armedLine != lineSerial) {
    // A line closed since is already gone from the set; ENOENT is expected.
    if (e.armedFd >= 0) ::epoll_ctl(e.pollFd, EPOLL_CTL_DEL, e.armedFd, nullptr);
    op = EPOLL_CTL_ADD;
  }
  if (::epoll_ctl(e.pollFd, op, fd, &ev) != 0) {
    e.armedLine = 0;
    e.armedFd = -1;
    return errno;
  }
  e.armedLine = lineSerial;
  e.armedFd = fd;
  e.armedEvents = events;
  return 0;
}

bool EventAccess::TakeSignal(SerialEvent& event) {
  if (!event.m_impl->setPending.exchange(false)) return false;
  uint64_t value = 0;
  ssize_t n = ::read(event.m_impl->signalFd, &value, sizeof value);
  (void)n;  // EAGAIN: a Set raced a Reset; it was taken then
  return true;
}

uint32_t EventAccess::Consume(SerialEvent& event) {
  const bool signalled = TakeSignal(event);
  epoll_event ready[2];
  int n = ::epoll_wait(event.m_impl->pollFd, ready, 2, 0);
  uint32_t seen = signalled ? kSignalBit : 0;
  for (int i = 0; i < n; ++i) {
    if (ready[i].data.u64 == kLineKey) seen |= ready[i].events;
  }
  return seen;
}

bool EventAccess::IsSignalled(SerialEvent& event) { return event.Wait(0); }

int EventAccess::WaitFor(SerialEvent& event, uint32_t timeoutMs) {
  pollfd p{event.m_impl->pollFd, POLLIN, 0};
  const int n = PollFor(&p, 1, timeoutMs);
  return n < 0 ? -1 : (n > 0 ? 1 : 0);
}

}  // namespace comm
}  // namespace vexel

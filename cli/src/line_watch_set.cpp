#include "cli/line_watch_set.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>

namespace vexel::cli {
namespace {

constexpr int kBatch = 64;

}  // namespace

LineWatchSet::LineWatchSet(Mode mode) : m_mode(mode) {
  if (m_mode == Mode::Direct) return;
  m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
  if (m_epoll < 0) {
    m_createError = errno;
    return;
  }
  m_notifier = new QSocketNotifier(m_epoll, QSocketNotifier::Read, this);
  connect(m_notifier, &QSocketNotifier::activated, this, [this] { Dispatch(); });
}

LineWatchSet::~LineWatchSet() {
  for (auto& entry : m_direct) delete entry.second;
  delete m_notifier;
  if (m_epoll >= 0) ::close(m_epoll);
}

int LineWatchSet::Add(intptr_t handle, std::function<void()> onSignalled) {
  if (m_keys.count(handle) != 0) return EEXIST;
  const uint64_t key = m_nextKey++;
  if (m_mode == Mode::Direct) {
    if (::fcntl(static_cast<int>(handle), F_GETFD) < 0) return errno;
    auto* notifier = new QSocketNotifier(static_cast<qintptr>(handle), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this, key] { Call(key); });
    m_direct[handle] = notifier;
  } else {
    if (m_epoll < 0) return m_createError;
    epoll_event ev{};
    ev.events = EPOLLIN;  // level-triggered: a handle stays ready until its owner serves it
    ev.data.u64 = key;
    if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, static_cast<int>(handle), &ev) != 0) return errno;
  }
  m_handlers.emplace(key, std::move(onSignalled));
  m_keys[handle] = key;
  return 0;
}

void LineWatchSet::Remove(intptr_t handle) {
  auto it = m_keys.find(handle);
  if (it == m_keys.end()) return;
  if (auto direct = m_direct.find(handle); direct != m_direct.end()) {
    // Possibly inside this notifier's own signal: disabled now, deleted later.
    direct->second->setEnabled(false);
    direct->second->deleteLater();
    m_direct.erase(direct);
  } else {
    ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, static_cast<int>(handle), nullptr);
  }
  m_handlers.erase(it->second);
  m_keys.erase(it);
}

// A handler may remove any entry, itself included: each is looked up afresh
// and called through a copy.
void LineWatchSet::Dispatch() {
  epoll_event ready[kBatch];
  const int n = ::epoll_wait(m_epoll, ready, kBatch, 0);
  for (int i = 0; i < n; ++i) Call(ready[i].data.u64);
}

void LineWatchSet::Call(uint64_t key) {
  auto it = m_handlers.find(key);
  if (it == m_handlers.end()) return;
  const std::function<void()> handler = it->second;
  handler();
}

}  // namespace vexel::cli

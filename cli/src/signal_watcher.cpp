#include "cli/signal_watcher.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>

namespace vexel::cli {
namespace {

std::atomic<int> g_writeFd{-1};

extern "C" void OnSignal(int signo) {
  const int saved = errno;
  const auto byte = static_cast<unsigned char>(signo);
  const int fd = g_writeFd.load();
  if (fd >= 0) {
    [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
  }
  errno = saved;
}

}  // namespace

SignalWatcher::SignalWatcher(std::function<void(int)> onSignal)
    : m_onSignal(std::move(onSignal)) {
  if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  g_writeFd = m_pipe[1];
  m_notifier = std::make_unique<QSocketNotifier>(m_pipe[0], QSocketNotifier::Read);
  QObject::connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] { Drain(); });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  m_oldTerm.sa_handler = SIG_DFL;  // restored even if installing SIGTERM fails
  m_installed = true;
  m_active = ::sigaction(SIGINT, &action, &m_oldInt) == 0 &&
             ::sigaction(SIGTERM, &action, &m_oldTerm) == 0;
}

SignalWatcher::~SignalWatcher() {
  if (m_pipe[0] < 0) return;
  RestoreHandlers();
  m_notifier.reset();
  ::close(m_pipe[0]);
  ::close(m_pipe[1]);
}

// After the first signal the previous handlers are back, so that a second
// Ctrl-C ends a loader that is stuck on its way out.
void SignalWatcher::Drain() {
  unsigned char received[16];
  ssize_t n;
  while ((n = ::read(m_pipe[0], received, sizeof received)) > 0) {
    RestoreHandlers();
    for (ssize_t i = 0; i < n; ++i) m_onSignal(received[i]);
  }
}

void SignalWatcher::RestoreHandlers() {
  if (!m_installed) return;
  m_installed = false;
  ::sigaction(SIGINT, &m_oldInt, nullptr);
  ::sigaction(SIGTERM, &m_oldTerm, nullptr);
  g_writeFd = -1;
}

}  // namespace vexel::cli

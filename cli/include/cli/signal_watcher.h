// Ctrl-C and SIGTERM delivered to the event loop: the handler only writes
// the signal number into a pipe, and a socket notifier reads it there.
#pragma once

#include <QObject>
#include <csignal>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace vexel::cli {

class SignalWatcher final : public QObject {
 public:
  /// Installs handlers for SIGINT and SIGTERM; @p onSignal runs on the
  /// event loop with the signal number. One watcher at a time.
  explicit SignalWatcher(std::function<void(int)> onSignal);
  /// Restores the handlers that were there before (already done at the
  /// first signal, so that a second one acts as it would without us).
  ~SignalWatcher() override;
  SignalWatcher(const SignalWatcher&) = delete;
  SignalWatcher& operator=(const SignalWatcher&) = delete;

  /// False when the pipe or a handler could not be set up.
  bool Active() const { return m_active; }

 private:
  void Drain();
  void RestoreHandlers();

  std::function<void(int)> m_onSignal;
  int m_pipe[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> m_notifier;
  struct sigaction m_oldInt {};
  struct sigaction m_oldTerm {};
  bool m_installed = false;
  bool m_active = false;
};

}  // namespace vexel::cli

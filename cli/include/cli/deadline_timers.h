// The controller's timers for a port: repeating, by id, never early. A
// restart (the controller restarts the reply time-out for every chunk) only
// moves a deadline; the event loop's timer is left running and, when it
// comes before the deadline, is set again for the rest. That keeps timer
// registration out of every chunk's round.
#pragma once

#include <QBasicTimer>
#include <QElapsedTimer>
#include <QObject>
#include <cstdint>
#include <functional>
#include <map>

namespace vexel::cli {

class DeadlineTimers final : public QObject {
 public:
  /// @p fire is called with the id each time a started timer is due.
  explicit DeadlineTimers(std::function<void(uint32_t id)> fire);

  /// Starts (or restarts) timer @p id: due @p ms from now, then every @p ms.
  void Start(uint32_t id, uint32_t ms);
  /// Stops timer @p id; nothing more comes from it until it is started again.
  void Stop(uint32_t id);
  /// Stops every timer, the event loop's too.
  void StopAll();
  bool IsActive(uint32_t id) const;

 protected:
  void timerEvent(QTimerEvent* event) override;

 private:
  struct Timer {
    QBasicTimer loop;         // the event loop's timer, possibly still running when stopped
    int loopMs = 0;           // its interval
    bool active = false;
    uint32_t ms = 0;
    qint64 dueNs = 0;
  };
  void Arm(Timer& timer, int ms);

  std::function<void(uint32_t)> m_fire;
  QElapsedTimer m_clock;  // monotonic
  std::map<uint32_t, Timer> m_timers;
};

}  // namespace vexel::cli

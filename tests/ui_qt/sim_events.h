// The module simulator program on the Qt event loop: its JSON events as they
// come, for the tests and tools that drive the dialogs meanwhile.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>

#include "support/sim_program.h"

namespace vexel::test {

class SimEvents : public QObject {
  Q_OBJECT

 public:
  /// @p arguments are added to --json (faults, --count, ...).
  explicit SimEvents(const QStringList& arguments = {});
  /// Stops the program by its process id and waits for it.
  ~SimEvents() override;

  /// Starts the program and reads the line's path from its first line of
  /// output; false (with @p error) when it does not come in time.
  bool Start(QString& error);
  void Stop();

  const QString& Path() const { return m_path; }
  const std::vector<QJsonObject>& Events() const { return m_events; }
  /// Events whose "event" is @p event (and "name" is @p name, when given).
  int Count(const QString& event, const QString& name = QString()) const;
  /// Waits, on the event loop, for an event that @p match accepts (events
  /// already received count) and stores it in @p found; false when none comes
  /// within @p timeoutMs.
  bool WaitFor(const std::function<bool(const QJsonObject&)>& match, int timeoutMs,
               QJsonObject* found = nullptr);

 signals:
  void eventReceived(const QJsonObject& event);

 private:
  void ReadEvents();

  std::vector<std::string> m_arguments;
  SimProgram m_program;
  bool m_running = false;
  size_t m_linesRead = 0;
  QString m_path;
  std::vector<QJsonObject> m_events;
};

}  // namespace vexel::test

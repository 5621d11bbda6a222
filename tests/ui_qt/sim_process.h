// The module simulator program as a child process: a module on a
// pseudo-terminal whose JSON events the tests and tools read.
#pragma once

#include <functional>
#include <vector>

#include <QJsonObject>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace vexel::test {

class SimProcess : public QObject {
  Q_OBJECT

 public:
  /// @p arguments are added to --json (faults, --count, ...).
  explicit SimProcess(QStringList arguments = {});
  /// Stops the program by its process id and waits for it.
  ~SimProcess() override;

  /// Starts the program and reads the line's path from its first line of
  /// output; false (with @p error) when it does not come within 30 s.
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

  QProcess m_process;
  QStringList m_arguments;
  QByteArray m_pending;
  QString m_path;
  std::vector<QJsonObject> m_events;
};

/// Whether this process holds an open descriptor on the file at @p path.
bool ProcessHoldsFile(const QString& path);

}  // namespace vexel::test

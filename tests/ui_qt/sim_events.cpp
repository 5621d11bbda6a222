#include "sim_events.h"

#include <signal.h>

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QSignalSpy>

namespace vexel::test {

SimEvents::SimEvents(const QStringList& arguments) : m_arguments{"--json"} {
  for (const QString& argument : arguments) m_arguments.push_back(argument.toStdString());
}

SimEvents::~SimEvents() { Stop(); }

// The reader thread only asks for a look on the event loop; the events are
// taken and signalled there.
bool SimEvents::Start(QString& error) {
  ChildProcess::Options options;
  options.onOutput = [this] {
    QMetaObject::invokeMethod(this, &SimEvents::ReadEvents, Qt::QueuedConnection);
  };
  m_program.Start(m_arguments, options);
  m_path = QString::fromStdString(m_program.Path());
  if (m_path.isEmpty()) {
    error = QStringLiteral("no line path from the simulator: ") +
            QString::fromStdString(m_program.Stderr());
    return false;
  }
  m_running = true;
  m_linesRead = 1;
  ReadEvents();
  return true;
}

void SimEvents::Stop() {
  if (m_running) m_program.Stop(SIGTERM);
  m_running = false;
}

void SimEvents::ReadEvents() {
  if (!m_running) return;
  const std::vector<std::string> lines = m_program.Lines();
  for (; m_linesRead < lines.size(); ++m_linesRead) {
    const QJsonDocument document = QJsonDocument::fromJson(
        QByteArray::fromStdString(lines[m_linesRead]));
    if (document.isObject()) {
      m_events.push_back(document.object());
      emit eventReceived(m_events.back());
    }
  }
}

int SimEvents::Count(const QString& event, const QString& name) const {
  int count = 0;
  for (const QJsonObject& e : m_events) {
    if (e.value("event").toString() == event &&
        (name.isEmpty() || e.value("name").toString() == name)) {
      ++count;
    }
  }
  return count;
}

bool SimEvents::WaitFor(const std::function<bool(const QJsonObject&)>& match, int timeoutMs,
                        QJsonObject* found) {
  QDeadlineTimer deadline(timeoutMs);
  size_t next = 0;
  for (;;) {
    for (; next < m_events.size(); ++next) {
      if (match(m_events[next])) {
        if (found != nullptr) {
          *found = m_events[next];
        }
        return true;
      }
    }
    QSignalSpy spy(this, &SimEvents::eventReceived);
    if (deadline.hasExpired() || !spy.wait(static_cast<int>(deadline.remainingTime()))) {
      return false;
    }
  }
}

}  // namespace vexel::test

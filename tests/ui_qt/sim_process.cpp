#include "sim_process.h"

#include <signal.h>
#include <sys/prctl.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSignalSpy>

namespace vexel::test {

SimProcess::SimProcess(QStringList arguments) : m_arguments(std::move(arguments)) {
  m_arguments.prepend(QStringLiteral("--json"));
  m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  // Should this process die without stopping it, the simulator follows.
  m_process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

SimProcess::~SimProcess() { Stop(); }

bool SimProcess::Start(QString& error) {
  m_process.start(QStringLiteral(VEXEL_MODULE_SIM), m_arguments);
  if (!m_process.waitForStarted(30000)) {
    error = m_process.errorString();
    return false;
  }
  QDeadlineTimer deadline(30000);
  while (!m_process.canReadLine()) {
    if (!m_process.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
      error = QStringLiteral("no line path from the simulator");
      return false;
    }
  }
  m_path = QString::fromLocal8Bit(m_process.readLine()).trimmed();
  connect(&m_process, &QProcess::readyReadStandardOutput, this, &SimProcess::ReadEvents);
  ReadEvents();
  return true;
}

// SIGTERM to the child's process id; the simulator ends on it.
void SimProcess::Stop() {
  if (m_process.state() == QProcess::NotRunning) {
    return;
  }
  disconnect(&m_process, nullptr, this, nullptr);
  m_process.terminate();
  if (!m_process.waitForFinished(10000)) {
    m_process.kill();
    m_process.waitForFinished(10000);
  }
}

void SimProcess::ReadEvents() {
  m_pending += m_process.readAllStandardOutput();
  qsizetype end;
  while ((end = m_pending.indexOf('\n')) >= 0) {
    const QByteArray line = m_pending.left(end);
    m_pending.remove(0, end + 1);
    const QJsonDocument document = QJsonDocument::fromJson(line);
    if (document.isObject()) {
      m_events.push_back(document.object());
      emit eventReceived(m_events.back());
    }
  }
}

int SimProcess::Count(const QString& event, const QString& name) const {
  int count = 0;
  for (const QJsonObject& e : m_events) {
    if (e.value("event").toString() == event && (name.isEmpty() || e.value("name").toString() == name)) {
      ++count;
    }
  }
  return count;
}

bool SimProcess::WaitFor(const std::function<bool(const QJsonObject&)>& match, int timeoutMs,
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
    QSignalSpy spy(this, &SimProcess::eventReceived);
    if (deadline.hasExpired() || !spy.wait(static_cast<int>(deadline.remainingTime()))) {
      return false;
    }
  }
}

bool ProcessHoldsFile(const QString& path) {
  const QString target = QFileInfo(path).canonicalFilePath();
  const QDir fds(QStringLiteral("/proc/self/fd"));
  for (const QString& fd : fds.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)) {
    if (QFileInfo(fds.filePath(fd)).symLinkTarget() == target) {
      return true;
    }
  }
  return false;
}

}  // namespace vexel::test

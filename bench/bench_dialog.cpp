// The dialog program's idle cost and memory: connects to the module on
// COM1 (VEXEL_COM1), stays connected with no run for a while, then programs
// an image and reports its resident memory after the run.
//
//   bench_dialog IDLE_SECONDS IMAGE
// prints: idle_cpu_ms=.. wakeups_per_s=.. peak_kib=.. after_kib=..
#include <sys/resource.h>

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "ui/cloaderdlg.h"

namespace {

double CpuMs(const rusage& u) {
  const auto us = (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000000L + u.ru_utime.tv_usec +
                  u.ru_stime.tv_usec;
  return static_cast<double>(us) / 1e3;
}

long StatusKib(const char* key) {
  QFile status("/proc/self/status");
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (line.startsWith(key))
      return line.mid(static_cast<int>(qstrlen(key))).trimmed().split(' ')[0].toLong();
  }
  return -1;
}

// Runs the event loop until the status line shows @p text or @p ms pass.
bool WaitForStatus(vexel::CLoaderDlg& dlg, const QString& text, int ms) {
  QEventLoop loop;
  bool seen = false;
  auto c = QObject::connect(&dlg, &vexel::CLoaderDlg::statusShown, [&](const QString& shown) {
    if (shown == text) {
      seen = true;
      loop.quit();
    }
  });
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
  QObject::disconnect(c);
  return seen;
}

QPushButton* Button(vexel::CLoaderDlg& dlg, const QString& text) {
  for (auto* button : dlg.findChildren<QPushButton*>()) {
    if (button->text() == text) return button;
  }
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s IDLE_SECONDS IMAGE\n", argv[0]);
    return 2;
  }
  QApplication app(argc, argv);
  const int idleSeconds = std::atoi(argv[1]);
  const QString image = QString::fromLocal8Bit(argv[2]);
  vexel::CLoaderDlg dlg;
  dlg.SetFileChooser([image](QWidget*, QString& path) {
    path = image;
    return true;
  });
  dlg.show();
  Button(dlg, "Connect")->click();
  if (!WaitForStatus(dlg, "CONNECTED", 5000)) {
    std::fprintf(stderr, "not connected\n");
    return 1;
  }

  rusage before{};
  rusage after{};
  getrusage(RUSAGE_SELF, &before);
  QEventLoop idle;
  QTimer::singleShot(idleSeconds * 1000, &idle, &QEventLoop::quit);
  idle.exec();
  getrusage(RUSAGE_SELF, &after);
  const double cpu = CpuMs(after) - CpuMs(before);
  const double switches = static_cast<double>(after.ru_nvcsw - before.ru_nvcsw + after.ru_nivcsw -
                                              before.ru_nivcsw);

  Button(dlg, "Program module...")->click();
  if (!WaitForStatus(dlg, "MODULE LOADED", 600000)) {
    std::fprintf(stderr, "the run did not load the module\n");
    return 1;
  }
  QCoreApplication::processEvents();
  std::printf("idle_cpu_ms=%.3f wakeups_per_s=%.2f peak_kib=%ld after_kib=%ld\n", cpu,
              switches / idleSeconds, StatusKib("VmHWM:"), StatusKib("VmRSS:"));
  return 0;
}

// Not a test: opens the real main dialog, drives it through its states
// against the module simulator program and saves a PNG screenshot of each
// into the directory named by VEXEL_SCREENSHOT_DIR. scripts/screenshots.sh
// runs it under Xvfb.
#include <cstdio>
#include <functional>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QJsonObject>
#include <QLabel>
#include <QMenu>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/cloaderapp.h"
#include "sim_events.h"
#include "ui/cloaderdlg.h"
#include "ui/cprogressdlg.h"
#include "ui/dialog_template.h"
#include "ui/resource.h"

namespace {

using vexel::CLoaderDlg;
using vexel::test::SimEvents;

constexpr int kDeadlineMs = 20000;
constexpr int kFrameDeadlineMs = 2000;
constexpr int kMargin = 24;

bool g_failed = false;

void Fail(const char* what) {
  std::fprintf(stderr, "screenshots: %s\n", what);
  g_failed = true;
}

// Lets pending paints reach the X server before the screen is read.
void Settle() {
  for (int i = 0; i < 3; ++i) {
    QCoreApplication::processEvents();
    QGuiApplication::sync();
  }
}

// Saves the part of the screen that covers @p windows, with a margin.
void Shoot(const QString& name, std::initializer_list<const QWidget*> windows) {
  Settle();
  QRect area;
  for (const QWidget* window : windows) {
    area = area.united(window->frameGeometry());
  }
  area.adjust(-kMargin, -kMargin, kMargin, kMargin);
  QScreen* screen = QGuiApplication::primaryScreen();
  area = area.intersected(screen->geometry());
  const QPixmap shot = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
  const QString path = QDir(qEnvironmentVariable("VEXEL_SCREENSHOT_DIR")).filePath(name + ".png");
  if (shot.isNull() || !shot.save(path, "PNG")) {
    Fail("cannot save a screenshot");
    return;
  }
  std::printf("saved %s\n", qPrintable(path));
}

bool WaitForStatus(CLoaderDlg& dlg, const char* text) {
  QDeadlineTimer deadline(kDeadlineMs);
  while (vexel::DlgItem<QLabel>(dlg, vexel::IDC_STATUS)->text() != QLatin1String(text)) {
    QSignalSpy shown(&dlg, &CLoaderDlg::statusShown);
    if (deadline.hasExpired() || !shown.wait(static_cast<int>(deadline.remainingTime()))) {
      Fail(text);
      return false;
    }
  }
  return true;
}

void Click(CLoaderDlg& dlg, int id) {
  QTest::mouseClick(vexel::DlgItem<QPushButton>(dlg, id), Qt::LeftButton);
}

// With a window manager, waits until it has put its frame around @p window.
// A window that never gets a frame is shot without one.
void WaitForFrame(QWidget& window) {
  if (qEnvironmentVariableIsEmpty("VEXEL_SCREENSHOT_FRAMED")) {
    return;
  }
  const QPointer<QWidget> guard(&window);
  QDeadlineTimer deadline(kFrameDeadlineMs);
  while (guard && guard->frameGeometry() == guard->geometry() && !deadline.hasExpired()) {
    QTest::qWait(20);
  }
}

// Runs @p shoot on the next modal box that opens, then @p close on it.
void OnNextModal(std::function<void(QWidget&)> shoot) {
  QTimer::singleShot(0, [shoot] {
    QWidget* box = QApplication::activeModalWidget();
    if (box == nullptr) {
      Fail("no modal box");
      return;
    }
    if (!QTest::qWaitForWindowExposed(box)) {
      Fail("modal box not exposed");
    }
    WaitForFrame(*box);
    shoot(*box);
    QTest::keyClick(box, Qt::Key_Escape);
  });
}

QString WriteSampleImage(const QDir& dir) {
  const QString path = dir.filePath(QStringLiteral("sample.mbf"));
  QFile file(path);
  if (file.open(QIODevice::WriteOnly)) {
    for (int i = 0; i < 256; ++i) {
      file.putChar(static_cast<char>(i));
    }
  }
  return path;
}

void Tour(CLoaderDlg& dlg, SimEvents& sim, const QString& image) {
  if (!QTest::qWaitForWindowExposed(&dlg)) {
    Fail("main window not exposed");
  }
  WaitForFrame(dlg);
  Shoot(QStringLiteral("not-connected"), {&dlg});

  OnNextModal([&dlg](QWidget& box) { Shoot(QStringLiteral("settings"), {&dlg, &box}); });
  Click(dlg, vexel::IDC_SETTINGS);

  Click(dlg, vexel::IDC_CONNECT);
  if (!WaitForStatus(dlg, "CONNECTED")) return;
  Shoot(QStringLiteral("connected"), {&dlg});

  // The third chunk's ACK is held back, so the run pauses half-way.
  dlg.SetFileChooser([image](QWidget*, QString& path) {
    path = image;
    return true;
  });
  Click(dlg, vexel::IDC_PROGRAM);
  const bool paused = sim.WaitFor(
      [](const QJsonObject& e) { return e["event"] == "request" && e["step"] == 4; }, kDeadlineMs);
  auto* progress = dlg.findChild<vexel::CProgressDlg*>();
  if (!paused || progress == nullptr) {
    Fail("the run did not start");
    return;
  }
  WaitForFrame(*progress);
  Shoot(QStringLiteral("run"), {&dlg, progress});
  if (!WaitForStatus(dlg, "MODULE LOADED")) return;
  Shoot(QStringLiteral("module-loaded"), {&dlg});

  OnNextModal([&dlg](QWidget& box) { Shoot(QStringLiteral("about"), {&dlg, &box}); });
  dlg.findChild<QMenu*>()->actions().back()->trigger();  // the About item
}

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("VEXEL_SCREENSHOT_DIR")) {
    std::fprintf(stderr, "screenshots: set VEXEL_SCREENSHOT_DIR to the output directory\n");
    return 2;
  }
  vexel::CLoaderApp app(argc, argv);
  QDir(qEnvironmentVariable("VEXEL_SCREENSHOT_DIR")).mkpath(QStringLiteral("."));
  SimEvents sim({QStringLiteral("--fault"), QStringLiteral("delay:2500@4")});
  QString error;
  if (!sim.Start(error)) {
    std::fprintf(stderr, "screenshots: %s\n", qPrintable(error));
    return 1;
  }
  qputenv("VEXEL_COM1", sim.Path().toLocal8Bit());
  QTemporaryDir dir;
  const QString image = WriteSampleImage(QDir(dir.path()));

  CLoaderDlg dlg;
  dlg.move(40, 40);
  QTimer::singleShot(0, &dlg, [&] {
    Tour(dlg, sim, image);
    dlg.reject();
  });
  dlg.DoModal();
  return g_failed ? 1 : 0;
}

// The main dialog: its start look and template, the About item, the Settings
// end codes as the port choice, and Connect and programming runs against the
// module simulator program on a pseudo-terminal.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QAction>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QFontInfo>
#include <QJsonObject>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/cloaderapp.h"
#include "dialog_checks.h"
#include "sim_events.h"
#include "support/proc_scan.h"
#include "ui/cloaderdlg.h"
#include "ui/cprogressdlg.h"
#include "ui/dialog_template.h"
#include "ui/resource.h"

namespace vexel::test {
namespace {

constexpr int kDeadlineMs = 20000;  // a safety net only: every wait ends on an event
const QString kCaption = QStringLiteral("ui_loader_test");  // this executable's name
const QColor kGreen(0, 200, 100);
const QColor kRed(255, 0, 0);

QLabel& Status(CLoaderDlg& dlg) { return *DlgItem<QLabel>(dlg, IDC_STATUS); }
QPushButton& Button(CLoaderDlg& dlg, int id) { return *DlgItem<QPushButton>(dlg, id); }
QColor StatusColour(CLoaderDlg& dlg) { return Status(dlg).palette().color(QPalette::WindowText); }

// Waits on the dialog's status updates until the status line reads @p text.
bool WaitForStatus(CLoaderDlg& dlg, const QString& text, int timeoutMs = kDeadlineMs) {
  QElapsedTimer clock;
  clock.start();
  while (Status(dlg).text() != text) {
    QSignalSpy shown(&dlg, &CLoaderDlg::statusShown);
    const qint64 left = timeoutMs - clock.elapsed();
    if (left <= 0 || !shown.wait(static_cast<int>(left))) {
      return false;
    }
  }
  return true;
}

void ExpectNotConnectedLook(CLoaderDlg& dlg) {
  EXPECT_EQ(Button(dlg, IDC_CONNECT).text(), "Connect");
  EXPECT_TRUE(Button(dlg, IDC_CONNECT).isEnabled());
  EXPECT_FALSE(Button(dlg, IDC_PROGRAM).isEnabled());
  EXPECT_TRUE(Button(dlg, IDC_SETTINGS).isEnabled());
  EXPECT_EQ(Status(dlg).text(), "NOT CONNECTED");
  EXPECT_EQ(StatusColour(dlg), kRed);
  EXPECT_FALSE(dlg.Controller().IsConnected());
}

void ExpectConnectedLook(CLoaderDlg& dlg, const QString& status = "CONNECTED") {
  EXPECT_EQ(Button(dlg, IDC_CONNECT).text(), "Disconnect");
  EXPECT_TRUE(Button(dlg, IDC_CONNECT).isEnabled());
  EXPECT_TRUE(Button(dlg, IDC_PROGRAM).isEnabled());
  EXPECT_FALSE(Button(dlg, IDC_SETTINGS).isEnabled());
  EXPECT_EQ(Status(dlg).text(), status);
  EXPECT_EQ(StatusColour(dlg), kGreen);
  EXPECT_TRUE(dlg.Controller().IsConnected());
}

void Click(CLoaderDlg& dlg, int id) { QTest::mouseClick(&Button(dlg, id), Qt::LeftButton); }

QByteArray ImageBytes(int length) {
  QByteArray bytes;
  for (int i = 0; i < length; ++i) {
    bytes.append(static_cast<char>((i * 7 + 3) & 0xFF));
  }
  return bytes;
}

class LoaderDlgTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { InitAppResources(); }

  void SetUp() override {
    ASSERT_TRUE(m_dir.isValid());
    qputenv("VEXEL_COM1", m_dir.filePath("no-such-com1").toLocal8Bit());
    qputenv("VEXEL_COM2", m_dir.filePath("no-such-com2").toLocal8Bit());
    m_dlg = std::make_unique<CLoaderDlg>();
    m_dlg->show();
  }

  void TearDown() override {
    m_dlg.reset();
    m_sim.reset();
    qunsetenv("VEXEL_COM1");
    qunsetenv("VEXEL_COM2");
  }

  // Starts the simulator and binds it as COM1 (or COM2).
  void StartSim(const QStringList& arguments = {}, const char* port = "VEXEL_COM1") {
    m_sim = std::make_unique<SimEvents>(arguments);
    QString error;
    ASSERT_TRUE(m_sim->Start(error)) << error.toStdString();
    qputenv(port, m_sim->Path().toLocal8Bit());
  }

  QString WriteImage(const QString& name, int length) {
    const QString path = m_dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(ImageBytes(length));
    return path;
  }

  void ChooseFile(const QString& path) {
    m_dlg->SetFileChooser([path](QWidget*, QString& chosen) {
      chosen = path;
      return true;
    });
  }

  void Connect() {
    Click(*m_dlg, IDC_CONNECT);
    ASSERT_TRUE(WaitForStatus(*m_dlg, "CONNECTED"));
  }

  QTemporaryDir m_dir;
  std::unique_ptr<SimEvents> m_sim;
  std::unique_ptr<CLoaderDlg> m_dlg;
};

// ---- Start look ----------------------------------------------------------

TEST_F(LoaderDlgTest, TemplateContents) {
  CLoaderDlg& dlg = *m_dlg;
  EXPECT_EQ(dlg.windowTitle(), "Vexel Module Loader");
  EXPECT_TRUE(dlg.windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(dlg.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(dlg.windowFlags() & Qt::WindowMaximizeButtonHint);
  // clang-format off
  ExpectTemplate(dlg, 286, 190,
                 {
                     // id          name            class          text                  x    y   cx   cy  tab stop
                     {IDC_CONNECT,  "IDC_CONNECT",  "QPushButton", "Connect",             7,   7,  56,  15, true},
                     {IDC_PROGRAM,  "IDC_PROGRAM",  "QPushButton", "Program module...",  76,   7,  68,  15, true},
                     {IDC_SETTINGS, "IDC_SETTINGS", "QPushButton", "Settings...",       223,   7,  56,  15, true},
                     {IDC_STATIC,   "IDC_STATIC",   "QLabel",      nullptr,               7,  36, 272, 123, false},
                     {IDC_STATUS,   "IDC_STATUS",   "QLabel",      "NOT CONNECTED",       7, 164, 272,  19, false},
                 });
  // clang-format on
  EXPECT_EQ(TabOrder(dlg),
            (std::vector<std::string>{"IDC_CONNECT", "IDC_PROGRAM", "IDC_SETTINGS"}));
  // The focused push button takes Enter; no other one is a default button.
  for (int id : {IDC_PROGRAM, IDC_SETTINGS}) {
    EXPECT_FALSE(Button(dlg, id).isDefault()) << id;
  }
  const auto* picture = DlgItem<QLabel>(dlg, IDC_STATIC);
  EXPECT_EQ(picture->pixmap().size(), QSize(300, 200));
  EXPECT_EQ(picture->alignment(), Qt::AlignCenter);
  EXPECT_EQ(Status(dlg).alignment(), Qt::AlignCenter);
  const QList<QSize> iconSizes = dlg.windowIcon().availableSizes();
  EXPECT_TRUE(iconSizes.contains(QSize(32, 32)) && iconSizes.contains(QSize(16, 16)));
}

TEST_F(LoaderDlgTest, StartLook) {
  CLoaderDlg& dlg = *m_dlg;
  ExpectNotConnectedLook(dlg);
  EXPECT_EQ(dlg.focusWidget(), &Button(dlg, IDC_CONNECT)) << "focus on the first control";
  const QFont font = Status(dlg).font();
  EXPECT_EQ(font.pointSize(), 18);
  const bool arialBlack = QFontInfo(font).family() == "Arial Black";
  EXPECT_TRUE(arialBlack || font.weight() == QFont::Black) << font.family().toStdString();
  EXPECT_GE(QFontInfo(font).weight(), static_cast<int>(QFont::Bold)) << "a heavy face";
  EXPECT_EQ(dlg.GetPortChoice(), 1) << "COM1";
}

TEST_F(LoaderDlgTest, ContextMenuEndsWithSeparatorAndAboutItem) {
  auto* menu = m_dlg->findChild<QMenu*>();
  ASSERT_NE(menu, nullptr);
  const QList<QAction*> actions = menu->actions();
  ASSERT_EQ(actions.size(), 3);
  EXPECT_EQ(actions[0]->text(), "&Close\tAlt+F4");
  EXPECT_TRUE(actions[1]->isSeparator());
  EXPECT_EQ(actions[2]->text(), "&About duvozeviv...");
  EXPECT_EQ(actions[2]->data().toInt(), IDM_ABOUTBOX);
}

// Right click, choose the About item in the menu, and the About box opens.
TEST_F(LoaderDlgTest, AboutFromTheContextMenu) {
  ShowWatcher menus("QMenu", [](QWidget& menu) {
    auto& m = static_cast<QMenu&>(menu);
    QTest::mouseClick(&m, Qt::LeftButton, {}, m.actionGeometry(m.actions().back()).center());
  });
  ShowWatcher about("vexel::CAboutDlg",
                    [](QWidget& box) { QTest::keyClick(&box, Qt::Key_Escape); });
  QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(200, 100),
                          m_dlg->mapToGlobal(QPoint(200, 100)));
  QApplication::sendEvent(m_dlg.get(), &event);
  EXPECT_EQ(menus.Count(), 1);
  ASSERT_EQ(about.Count(), 1);
  EXPECT_EQ(about.Titles()[0], "About Vexel Loader");
  EXPECT_TRUE(m_dlg->isVisible()) << "every other command left alone";
}

TEST_F(LoaderDlgTest, F1OpensTheAboutBox) {
  ShowWatcher about("vexel::CAboutDlg",
                    [](QWidget& box) { QTest::keyClick(&box, Qt::Key_Escape); });
  QApplication::setActiveWindow(m_dlg.get());
  QTest::keyClick(m_dlg.get(), Qt::Key_F1);
  EXPECT_EQ(about.Count(), 1);
}

TEST_F(LoaderDlgTest, CloseItemEndsTheDialog) {
  QSignalSpy finished(m_dlg.get(), &QDialog::finished);
  auto* menu = m_dlg->findChild<QMenu*>();
  ASSERT_NE(menu, nullptr);
  menu->actions().front()->trigger();
  EXPECT_EQ(finished.count(), 1);
  EXPECT_FALSE(m_dlg->isVisible());
}

// ---- Port choice ---------------------------------------------------------

// Opens Settings from the main dialog and answers it with @p answer.
void RunSettings(CLoaderDlg& dlg, std::function<void(QWidget&)> answer) {
  ShowWatcher settings("vexel::CSettingsDlg", std::move(answer));
  Click(dlg, IDC_SETTINGS);
  EXPECT_EQ(settings.Count(), 1);
}

void ClickRadio(QWidget& settings, int id) {
  QTest::mouseClick(DlgItem<QRadioButton>(settings, id), Qt::LeftButton);
}
void PressSettingsOk(QWidget& settings) {
  QTest::mouseClick(DlgItem<QPushButton>(settings, kOkButton), Qt::LeftButton);
}

TEST_F(LoaderDlgTest, SettingsChoiceDecidesTheNextConnect) {
  StartSim({}, "VEXEL_COM2");
  ShowWatcher boxes("QMessageBox", PressOk);

  RunSettings(*m_dlg, [](QWidget& s) {
    ClickRadio(s, IDC_COM2);
    PressSettingsOk(s);
  });
  EXPECT_EQ(m_dlg->GetPortChoice(), 2);
  Connect();  // succeeds only on COM2, where the module is
  EXPECT_EQ(boxes.Count(), 0);
  Click(*m_dlg, IDC_CONNECT);
  ExpectNotConnectedLook(*m_dlg);

  // Escape and the close box keep the earlier choice, whatever was clicked.
  RunSettings(*m_dlg, [](QWidget& s) {
    ClickRadio(s, IDC_COM1);
    QTest::keyClick(&s, Qt::Key_Escape);
  });
  RunSettings(*m_dlg, [](QWidget& s) {
    ClickRadio(s, IDC_COM1);
    s.close();
  });
  EXPECT_EQ(m_dlg->GetPortChoice(), 2);
  Connect();
  Click(*m_dlg, IDC_CONNECT);

  RunSettings(*m_dlg, [](QWidget& s) {
    ClickRadio(s, IDC_COM1);
    PressSettingsOk(s);
  });
  Click(*m_dlg, IDC_CONNECT);  // COM1 has no module behind it
  ASSERT_EQ(boxes.Count(), 1);
  EXPECT_EQ(boxes.Texts()[0], "Cannot open open COM1");
  ExpectNotConnectedLook(*m_dlg);
}

TEST_F(LoaderDlgTest, SettingsShowsTheCurrentChoice) {
  bool com2Checked = false;
  RunSettings(*m_dlg, [](QWidget& s) {
    ClickRadio(s, IDC_COM2);
    PressSettingsOk(s);
  });
  RunSettings(*m_dlg, [&](QWidget& s) {
    com2Checked = DlgItem<QRadioButton>(s, IDC_COM2)->isChecked();
    PressSettingsOk(s);
  });
  EXPECT_TRUE(com2Checked);
  EXPECT_EQ(m_dlg->GetPortChoice(), 2);
}

// ---- Connect ---------------------------------------------------------------

// The module answers the probe at once, but "CONNECTED" comes only when the
// one-second window ends: right before the window's timer is handled the
// reply is in and the status still reads "NOT CONNECTED"; right after it,
// "CONNECTED" in green.
TEST_F(LoaderDlgTest, ConnectedExactlyWhenTheProbeWindowEnds) {
  StartSim();
  struct Before {
    QString status;
    ControllerState state;
    qint64 elapsedMs;
  };
  std::vector<Before> timerEvents;
  QElapsedTimer clock;
  std::vector<QString> shown;
  QObject::connect(m_dlg.get(), &CLoaderDlg::statusShown,
                   [&](const QString& text) { shown.push_back(text); });
  class TimerSpy : public QObject {
   public:
    std::function<void()> onTimer;
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::Timer) {
        onTimer();
      }
      return false;
    }
  } spy;
  spy.onTimer = [&] {
    timerEvents.push_back({Status(*m_dlg).text(), m_dlg->Controller().State(), clock.elapsed()});
  };
  m_dlg->installEventFilter(&spy);

  clock.start();
  Click(*m_dlg, IDC_CONNECT);
  ASSERT_TRUE(WaitForStatus(*m_dlg, "CONNECTED"));
  const qint64 connectedAt = clock.elapsed();
  m_dlg->removeEventFilter(&spy);

  ASSERT_FALSE(timerEvents.empty());
  const Before& last = timerEvents.back();
  EXPECT_EQ(last.status, "NOT CONNECTED");
  EXPECT_EQ(last.state, Ready) << "the connect reply was in before the window ended";
  EXPECT_GE(last.elapsedMs, 1000);
  EXPECT_GE(connectedAt, 1000);
  EXPECT_EQ(shown, std::vector<QString>{"CONNECTED"}) << "no status shown before the window ended";
  ExpectConnectedLook(*m_dlg);
  EXPECT_EQ(m_sim->Count("request", "CONNECT"), 1);
}

// A reply late in the window counts as well; the window still runs its length.
TEST_F(LoaderDlgTest, ReplyLateInTheWindowStillConnects) {
  StartSim({"--fault", "delay:600@0"});
  QElapsedTimer clock;
  clock.start();
  Connect();
  EXPECT_GE(clock.elapsed(), 1000);
  ExpectConnectedLook(*m_dlg);
}

TEST_F(LoaderDlgTest, DisconnectClosesTheLine) {
  StartSim();
  Connect();
  EXPECT_TRUE(HoldsOpen(m_sim->Path().toStdString()));
  Click(*m_dlg, IDC_CONNECT);
  ExpectNotConnectedLook(*m_dlg);
  EXPECT_FALSE(HoldsOpen(m_sim->Path().toStdString()));
}

// Timer expiries and line notifications go on being handled while a modal
// box is open: the probe window ends under the About box.
TEST_F(LoaderDlgTest, TimersAndLineEventsGoOnUnderAModalBox) {
  StartSim();
  ShowWatcher about("vexel::CAboutDlg", [this](QWidget& box) {
    QObject::connect(m_dlg.get(), &CLoaderDlg::statusShown, &box, [&box](const QString& text) {
      if (text == "CONNECTED") {
        static_cast<QDialog&>(box).reject();
      }
    });
  });
  Click(*m_dlg, IDC_CONNECT);
  QApplication::setActiveWindow(m_dlg.get());
  QTest::keyClick(m_dlg.get(), Qt::Key_F1);  // returns when the box is closed
  EXPECT_EQ(about.Count(), 1);
  ExpectConnectedLook(*m_dlg);
}

// ---- Programming runs ----------------------------------------------------

TEST_F(LoaderDlgTest, RunShowsProgressThenModuleLoaded) {
  StartSim();
  Connect();
  const QString image = WriteImage("sample.mbf", 200);
  ChooseFile(image);
  std::vector<QString> shown;
  QObject::connect(m_dlg.get(), &CLoaderDlg::statusShown,
                   [&](const QString& text) { shown.push_back(text); });

  Click(*m_dlg, IDC_PROGRAM);
  auto* progress = m_dlg->findChild<CProgressDlg*>();
  ASSERT_NE(progress, nullptr);
  EXPECT_TRUE(progress->isVisible());
  EXPECT_EQ(progress->Range(), 200) << "the image length";
  EXPECT_EQ(DlgItem<QProgressBar>(*progress, IDC_PROGRESS)->maximum(), 200);
  EXPECT_EQ(progress->Pos(), 0);
  std::vector<int> positions;
  QObject::connect(DlgItem<QProgressBar>(*progress, IDC_PROGRESS), &QProgressBar::valueChanged,
                   [&](int value) { positions.push_back(value); });

  ASSERT_TRUE(WaitForStatus(*m_dlg, "MODULE LOADED"));
  EXPECT_EQ(shown, (std::vector<QString>{"PROGRAMMING", "MODULE LOADED"}));
  EXPECT_EQ(positions, (std::vector<int>{64, 128, 192}));
  EXPECT_EQ(m_dlg->findChild<CProgressDlg*>(), nullptr) << "the progress dialog is gone";
  ExpectConnectedLook(*m_dlg, "MODULE LOADED");

  QJsonObject flashed;
  ASSERT_TRUE(m_sim->WaitFor([](const QJsonObject& e) { return e["event"] == "image"; },
                             kDeadlineMs, &flashed));
  EXPECT_EQ(flashed["length"].toInt(), 200);
  EXPECT_EQ(flashed["sha256"].toString(),
            QCryptographicHash::hash(ImageBytes(200), QCryptographicHash::Sha256).toHex());
}

TEST_F(LoaderDlgTest, ShortImageGoesOutAsOneLastChunk) {
  StartSim();
  Connect();
  ChooseFile(WriteImage("short.mbf", 40));
  Click(*m_dlg, IDC_PROGRAM);
  auto* progress = m_dlg->findChild<CProgressDlg*>();
  ASSERT_NE(progress, nullptr);
  EXPECT_EQ(progress->Range(), 40);
  int moves = 0;
  QObject::connect(DlgItem<QProgressBar>(*progress, IDC_PROGRESS), &QProgressBar::valueChanged,
                   [&](int) { ++moves; });
  ASSERT_TRUE(WaitForStatus(*m_dlg, "MODULE LOADED"));
  EXPECT_EQ(moves, 0) << "the bar is not moved for the last chunk";
  EXPECT_EQ(m_sim->Count("request", "SEND"), 0);
  EXPECT_EQ(m_sim->Count("request", "SENDLAST"), 1);
}

TEST_F(LoaderDlgTest, CancellingTheFileChooserChangesNothing) {
  StartSim();
  Connect();
  ShowWatcher boxes("QMessageBox", PressOk);
  int asked = 0;
  m_dlg->SetFileChooser([&](QWidget* parent, QString&) {
    EXPECT_EQ(parent, m_dlg.get());
    ++asked;
    return false;
  });
  Click(*m_dlg, IDC_PROGRAM);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(m_dlg->findChild<CProgressDlg*>(), nullptr);
  EXPECT_EQ(boxes.Count(), 0);
  ExpectConnectedLook(*m_dlg);
  EXPECT_EQ(m_dlg->Controller().State(), Ready);
  EXPECT_TRUE(HoldsOpen(m_sim->Path().toStdString()));

  // Nothing went out: a run now is the first INIT the module sees.
  ChooseFile(WriteImage("after.mbf", 10));
  Click(*m_dlg, IDC_PROGRAM);
  ASSERT_TRUE(WaitForStatus(*m_dlg, "MODULE LOADED"));
  EXPECT_EQ(m_sim->Count("request", "INIT"), 1);
  EXPECT_EQ(m_sim->Count("request"), 4) << "CONNECT, INIT, SENDLAST, FLASH";
}

TEST_F(LoaderDlgTest, MissingImageFileIsReportedAndTheLineStays) {
  StartSim();
  Connect();
  ShowWatcher boxes("QMessageBox", PressOk);
  const QString missing = m_dir.filePath("missing.mbf");
  ChooseFile(missing);
  Click(*m_dlg, IDC_PROGRAM);
  ASSERT_EQ(boxes.Count(), 1);
  EXPECT_EQ(boxes.Titles()[0], kCaption);
  EXPECT_EQ(boxes.Texts()[0], "Unable to open file " + missing);
  EXPECT_EQ(m_dlg->findChild<CProgressDlg*>(), nullptr);
  ExpectConnectedLook(*m_dlg);
}

// Markup in a file name is shown as typed, never rendered: "<b>" would turn
// the rest bold and vanish from the message.
TEST_F(LoaderDlgTest, FileNamesInMessagesArePlainText) {
  StartSim();
  Connect();
  ShowWatcher boxes("QMessageBox", PressOk);
  const QString missing = m_dir.filePath("<b>bold &amp; <i>x.mbf");
  ASSERT_TRUE(Qt::mightBeRichText("Unable to open file " + missing))
      << "else the case shows nothing";
  ChooseFile(missing);
  Click(*m_dlg, IDC_PROGRAM);
  ASSERT_EQ(boxes.Count(), 1);
  EXPECT_EQ(boxes.Texts()[0], "Unable to open file " + missing);
  EXPECT_EQ(boxes.TextFormats()[0], Qt::PlainText);
}

// The line drops while the file chooser is open (here the run under way ends
// on a wrong reply): the file chosen afterwards is not sent, and the user is
// told so instead of seeing nothing happen.
TEST_F(LoaderDlgTest, FileChosenAfterTheLineDroppedIsReported) {
  StartSim({"--fault", "wrong@3"});
  Connect();
  ShowWatcher boxes("QMessageBox", PressOk);
  ChooseFile(WriteImage("first.mbf", 200));
  Click(*m_dlg, IDC_PROGRAM);
  const QString second = WriteImage("<b>second.mbf", 10);
  m_dlg->SetFileChooser([&](QWidget*, QString& chosen) {
    EXPECT_TRUE(WaitForStatus(*m_dlg, "NOT CONNECTED"));  // the chooser's loop runs meanwhile
    chosen = second;
    return true;
  });
  Click(*m_dlg, IDC_PROGRAM);
  ASSERT_EQ(boxes.Count(), 2);
  EXPECT_EQ(boxes.Texts()[0], "Invalid response from module for SEND");
  EXPECT_EQ(boxes.Titles()[1], kCaption);
  EXPECT_EQ(boxes.Texts()[1], "Not connected: " + second + " was not sent");
  EXPECT_EQ(boxes.TextFormats()[1], Qt::PlainText);
  EXPECT_EQ(boxes.ButtonCounts()[1], 1) << "one OK button";
  ExpectNotConnectedLook(*m_dlg);
  EXPECT_EQ(m_dlg->findChild<CProgressDlg*>(), nullptr);
  EXPECT_EQ(m_sim->Count("request", "INIT"), 1) << "nothing of the second file went out";
}

// Escape ends the dialog at once, without a message, and destroying it (as
// the application does when its modal loop returns) closes the line.
TEST_F(LoaderDlgTest, EscapeDuringARunEndsTheDialogWithTheLineClosed) {
  StartSim({"--fault", "delay:4000@3"});  // the second chunk's ACK comes late
  Connect();
  ChooseFile(WriteImage("sample.mbf", 200));
  ShowWatcher boxes("QMessageBox", PressOk);
  Click(*m_dlg, IDC_PROGRAM);
  ASSERT_TRUE(m_sim->WaitFor(
      [](const QJsonObject& e) { return e["event"] == "request" && e["step"] == 3; }, kDeadlineMs));
  EXPECT_EQ(Status(*m_dlg).text(), "PROGRAMMING");
  EXPECT_TRUE(HoldsOpen(m_sim->Path().toStdString()));

  QTimer::singleShot(0, m_dlg.get(), [this] { QTest::keyClick(m_dlg.get(), Qt::Key_Escape); });
  EXPECT_EQ(m_dlg->DoModal(), QDialog::Rejected);
  EXPECT_FALSE(m_dlg->isVisible());
  m_dlg.reset();
  EXPECT_FALSE(HoldsOpen(m_sim->Path().toStdString())) << "the line is closed";
  EXPECT_EQ(boxes.Count(), 0);
  EXPECT_EQ(m_sim->Count("request", "FLASH"), 0);
}

// ---- Failures ------------------------------------------------------------

struct FailureCase {
  const char* what;
  QStringList simArguments;  // empty: no module on the line at all
  int imageLength;           // 0: the failure comes before any run
  const char* message;
};

class LoaderFailure : public LoaderDlgTest, public testing::WithParamInterface<FailureCase> {};

TEST_P(LoaderFailure, MessageWithTheProgramsCaptionThenNotConnected) {
  const FailureCase& c = GetParam();
  const bool noModule = c.simArguments.isEmpty();
  if (!noModule) {
    StartSim(c.simArguments);
  }
  ShowWatcher boxes("QMessageBox", PressOk);
  QSignalSpy answered(&boxes, &ShowWatcher::answered);
  Click(*m_dlg, IDC_CONNECT);
  if (c.imageLength > 0) {
    ASSERT_TRUE(WaitForStatus(*m_dlg, "CONNECTED"));
    ChooseFile(WriteImage("image.mbf", c.imageLength));
    Click(*m_dlg, IDC_PROGRAM);
  }
  if (boxes.Count() == 0) {
    ASSERT_TRUE(answered.wait(kDeadlineMs));
  }
  ASSERT_EQ(boxes.Count(), 1);
  EXPECT_EQ(boxes.Titles()[0], kCaption);
  EXPECT_EQ(boxes.Texts()[0], QString::fromLatin1(c.message));
  EXPECT_EQ(boxes.ButtonCounts()[0], 1) << "one OK button";
  EXPECT_EQ(boxes.TextFormats()[0], Qt::PlainText) << "port names are shown as they are";
  ExpectNotConnectedLook(*m_dlg);
  if (!noModule) {
    EXPECT_FALSE(HoldsOpen(m_sim->Path().toStdString())) << "the line is closed";
  }
}

const FailureCase kFailures[] = {
    {"NoPort", {}, 0, "Cannot open open COM1"},
    {"NoConnectReply", {"--fault", "noreply@0"}, 0, "Unable to connect to module"},
    {"LateConnectReply", {"--fault", "delay:1500@0"}, 0, "Unable to connect to module"},
    {"NoInitReply", {"--fault", "noreply@1"}, 200, "Module not responding"},
    {"WrongInitReply", {"--fault", "wrong@1"}, 200, "Invalid response from module for INIT"},
    {"WrongSendReply", {"--fault", "wrong@3"}, 200, "Invalid response from module for SEND"},
    {"WrongSendLastReply",
     {"--fault", "wrong@5"},
     200,
     "Invalid response from module for SENDLAST"},
    {"WrongFlashReply", {"--fault", "wrong@6"}, 200, "Invalid response from module for FLASH"},
    // The line hangs up mid-run, as when an adapter is pulled out: said at
    // once, not as "Module not responding" when the reply timer runs out.
    {"LineLost",
     {"--fault", "hangup@3"},
     200,
     "Connection lost: the serial port went away (adapter unplugged or driver stopped)"},
};

INSTANTIATE_TEST_SUITE_P(Cases, LoaderFailure, testing::ValuesIn(kFailures),
                         [](const auto& param) { return std::string(param.param.what); });

}  // namespace
}  // namespace vexel::test

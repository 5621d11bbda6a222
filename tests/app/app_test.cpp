// The application object and the resource set: start-up and end of the
// program, the icon, picture and string, the version defined once, and the
// desktop integration files as validated by the platform tools.
#include <set>
#include <string>

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/cloaderapp.h"
#include "ui/cloaderdlg.h"
#include "ui/resource.h"
#include "ui/version.h"

namespace vexel::test {
namespace {

const QString kResourceDir = QStringLiteral(VEXEL_APP_RESOURCE_DIR);
const QString kSourceDir = QStringLiteral(VEXEL_APP_SOURCE_DIR);
const QString kAppId = QStringLiteral("com.vexel.duvozeviv");

QString ReadText(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

struct ToolRun {
  int exitCode = -1;
  QString output;
};

// Runs a tool to its end (a blocking wait on the child) and collects its output.
ToolRun RunTool(const QString& program, const QStringList& arguments) {
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(program, arguments);
  ToolRun run;
  if (process.waitForStarted(30000) && process.waitForFinished(120000) &&
      process.exitStatus() == QProcess::NormalExit) {
    run.exitCode = process.exitCode();
  }
  run.output = QString::fromLocal8Bit(process.readAll());
  return run;
}

bool HaveTool(const char* name) {
  return RunTool(QStringLiteral("sh"), {"-c", QStringLiteral("command -v %1").arg(name)})
             .exitCode == 0;
}

// ---- Start-up ------------------------------------------------------------

// The main dialog runs modally; Escape ends it and with it InitInstance.
TEST(LoaderApp, RunsTheMainDialogModallyUntilItCloses) {
  auto* app = qobject_cast<CLoaderApp*>(QCoreApplication::instance());
  ASSERT_NE(app, nullptr);
  QString title;
  bool modal = false;
  QTimer::singleShot(0, [&] {
    QWidget* dialog = QApplication::activeModalWidget();
    ASSERT_NE(dialog, nullptr);
    title = dialog->windowTitle();
    modal = dialog->inherits("vexel::CLoaderDlg") && dialog->isModal();
    QTest::keyClick(dialog, Qt::Key_Escape);
  });
  EXPECT_FALSE(app->InitInstance());
  EXPECT_EQ(title, "Vexel Module Loader");
  EXPECT_TRUE(modal);
  EXPECT_EQ(QApplication::topLevelWidgets().size(), 0) << "the dialog is gone";
}

// Only the program's name reaches Qt; the platform still comes from
// QT_QPA_PLATFORM, and "duvozeviv -platform bogus" starts like "duvozeviv".
TEST(LoaderApp, IgnoresItsCommandLine) {
  EXPECT_EQ(QCoreApplication::arguments().size(), 1)
      << QCoreApplication::arguments().join(' ').toStdString();
  EXPECT_EQ(QGuiApplication::layoutDirection(), Qt::LeftToRight) << "-reverse was given to Qt";
  EXPECT_EQ(QGuiApplication::platformName(), "offscreen");
}

TEST(LoaderApp, NamesAndVersion) {
  EXPECT_STREQ(VEXEL_VERSION, "1.0.0.1");
  EXPECT_STREQ(VEXEL_VERSION_SHORT, "1.0");
  EXPECT_EQ(QCoreApplication::applicationVersion(), "1.0.0.1");
  EXPECT_EQ(AppName(), "app_test") << "the executable's file name";
}

// ---- Resources -----------------------------------------------------------

TEST(Resources, IconHasBothSizes) {
  for (const auto& [path, size] : {std::pair{kIconPath32, 32}, std::pair{kIconPath16, 16}}) {
    const QImage icon(QString::fromLatin1(path));
    ASSERT_FALSE(icon.isNull()) << path;
    EXPECT_EQ(icon.size(), QSize(size, size));
    EXPECT_TRUE(icon.hasAlphaChannel());
    EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 0) << "transparent corner";
    EXPECT_EQ(qAlpha(icon.pixel(size / 2, size / 2)), 255) << "opaque middle";
  }
}

TEST(Resources, PictureIsAWordMarkOnLightGrey) {
  const QImage picture(QString::fromLatin1(kPicturePath));
  ASSERT_FALSE(picture.isNull());
  EXPECT_EQ(picture.size(), QSize(300, 200));
  for (const QPoint corner : {QPoint(0, 0), QPoint(299, 0), QPoint(0, 199), QPoint(299, 199)}) {
    EXPECT_EQ(picture.pixelColor(corner), QColor(230, 232, 235));
  }
  std::set<QRgb> colours;
  for (int y = 0; y < picture.height(); ++y) {
    for (int x = 0; x < picture.width(); ++x) {
      colours.insert(picture.pixel(x, y));
    }
  }
  EXPECT_GT(colours.size(), 20u) << "a drawing, not a blank";
}

TEST(Resources, AboutBoxString) {
  QFile file(QString::fromLatin1(kAboutBoxStringPath));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(QString::fromUtf8(file.readAll()).trimmed(), "&About duvozeviv...");
}

// The Windows version record is written by every build from the one project
// version, and compiled only on Windows.
TEST(Resources, WindowsVersionRecord) {
  const QString rc = ReadText(kResourceDir + "/duvozeviv.rc");
  ASSERT_FALSE(rc.isEmpty());
  for (const char* line :
       {" FILEVERSION 1,0,0,1\n", " PRODUCTVERSION 1,0,0,1\n", " FILEFLAGSMASK 0x3fL\n",
        " FILEOS 0x4L\n", " FILETYPE 0x1L\n", "VALUE \"FileVersion\", \"1, 0, 0, 1\\0\"",
        "VALUE \"ProductVersion\", \"1, 0, 0, 1\\0\"",
        "VALUE \"FileDescription\", \"Vexel Module Loader\\0\"",
        "VALUE \"InternalName\", \"duvozeviv\\0\"",
        "VALUE \"OriginalFilename\", \"duvozeviv.EXE\\0\"",
        "VALUE \"ProductName\", \"vexel Module Developer Kit\\0\"",
        "VALUE \"Translation\", 0x409, 1200", "BLOCK \"040904B0\"",
        "IDS_ABOUTBOX \"&About duvozeviv...\""}) {
    EXPECT_TRUE(rc.contains(QString::fromLatin1(line))) << line;
  }
  EXPECT_TRUE(rc.contains("VALUE \"LegalCopyright\", \"" VEXEL_COPYRIGHT "\\0\""));
}

// ---- Desktop integration ---------------------------------------------------

TEST(DesktopFiles, DesktopEntryValidates) {
  if (!HaveTool("desktop-file-validate")) {
    GTEST_SKIP() << "desktop-file-validate is not installed (scripts/deps.sh)";
  }
  const ToolRun run = RunTool("desktop-file-validate",
                              {kSourceDir + "/resources/" + kAppId + ".desktop"});
  EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
  EXPECT_TRUE(run.output.trimmed().isEmpty()) << run.output.toStdString();
}

TEST(DesktopFiles, MetainfoValidates) {
  if (!HaveTool("appstreamcli")) {
    GTEST_SKIP() << "appstreamcli is not installed (scripts/deps.sh)";
  }
  const QString metainfo = kResourceDir + "/" + kAppId + ".metainfo.xml";
  const ToolRun run = RunTool("appstreamcli", {"validate", "--no-net", "--pedantic", metainfo});
  EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
  EXPECT_TRUE(ReadText(metainfo).contains("<release version=\"1.0.0.1\""));
}

// Installs one component of the build into a fresh prefix and checks the
// files it must hold; @p executables must also be executable.
void ExpectInstalled(const char* component, const QStringList& files,
                     const QStringList& executables) {
  QTemporaryDir prefix;
  ASSERT_TRUE(prefix.isValid());
  const ToolRun run = RunTool(VEXEL_CMAKE_COMMAND, {"--install", VEXEL_BUILD_DIR, "--component",
                                                    component, "--prefix", prefix.path()});
  ASSERT_EQ(run.exitCode, 0) << run.output.toStdString();
  const QDir root(prefix.path());
  for (const QString& file : files + executables) {
    EXPECT_TRUE(QFile::exists(root.filePath(file))) << file.toStdString();
  }
  for (const QString& file : executables) {
    EXPECT_TRUE(QFileInfo(root.filePath(file)).isExecutable()) << file.toStdString();
  }
  if (QString(component) == "duvozeviv") {
    EXPECT_EQ(QImage(root.filePath("share/icons/hicolor/64x64/apps/" + kAppId + ".png")).size(),
              QSize(64, 64));
  }
}

TEST(DesktopFiles, InstalledWithTheExecutable) {
  QStringList files = {"share/applications/" + kAppId + ".desktop",
                       "share/metainfo/" + kAppId + ".metainfo.xml", "share/man/man1/duvozeviv.1"};
  for (const char* size : {"16x16", "32x32", "64x64", "128x128"}) {
    files << QStringLiteral("share/icons/hicolor/%1/apps/%2.png").arg(size, kAppId);
  }
  ExpectInstalled("duvozeviv", files, {"bin/duvozeviv"});
}

// The simulator goes with the programs, so they can be tried without hardware.
TEST(DesktopFiles, SimulatorInstalledWithItsManualPage) {
  ExpectInstalled("sim", {"share/man/man1/vexel-module-sim.1"}, {"bin/vexel-module-sim"});
}

}  // namespace
}  // namespace vexel::test

#include "ui/cloaderdlg.h"

#include <algorithm>
#include <climits>

#include <QAction>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontInfo>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QTimerEvent>

#include "ui/caboutdlg.h"
#include "ui/cprogressdlg.h"
#include "ui/csettingsdlg.h"
#include "ui/dialog_template.h"
#include "ui/resource.h"

namespace vexel {
namespace {

constexpr QRgb kStatusGreen = 0xFF000000u | kStatusGreenRgb;
constexpr QRgb kStatusRed = 0xFF000000u | kStatusRedRgb;
constexpr const char* kNotConnectedNotSent = "Not connected: %1 was not sent";

// A watcher notification on its way to the dialog's thread.
class ComMessageEvent : public QEvent {
 public:
  ComMessageEvent(uint32_t message, uint32_t wParam, intptr_t lParam)
      : QEvent(Type()), m_message(message), m_wParam(wParam), m_lParam(lParam) {}

  // One event type for the whole process, registered on first use.
  static QEvent::Type Type() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
  }

  uint32_t m_message;
  uint32_t m_wParam;
  intptr_t m_lParam;
};

QIcon LoadAppIcon() {
  QIcon icon;
  icon.addFile(QString::fromLatin1(kIconPath32), QSize(32, 32));
  icon.addFile(QString::fromLatin1(kIconPath16), QSize(16, 16));
  return icon;
}

// Empty when the resource is missing, like a string that does not load.
QString LoadResourceString(const char* path) {
  QFile file(QString::fromLatin1(path));
  if (!file.open(QIODevice::ReadOnly)) {
    return QString();
  }
  return QString::fromUtf8(file.readAll()).trimmed();
}

// 18 point "Arial Black"; where it is missing, the heaviest weight of the
// default sans-serif family.
QFont StatusFont() {
  QFont font(QStringLiteral("Arial Black"), 18);
  if (QFontInfo(font).family() == font.family()) {
    return font;
  }
  QFont heavy;
  heavy.setStyleHint(QFont::SansSerif);
  heavy.setFamily(heavy.defaultFamily());
  heavy.setPointSize(18);
  heavy.setWeight(QFont::Black);
  return heavy;
}

}  // namespace

bool ChooseImageFile(QWidget* parent, QString& path) {
  QFileDialog dialog(parent, QStringLiteral("Open"), QString(),
                     QStringLiteral("Module binary files (*.mbf)"));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::AnyFile);  // a missing file is reported by the run
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
    return false;
  }
  path = dialog.selectedFiles().constFirst();
  return true;
}

QString AppName() {
  return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

CLoaderDlg::CLoaderDlg(QWidget* pParent)
    : QDialog(pParent),
      m_hIcon(LoadAppIcon()),
      m_chooseFile(&ChooseImageFile),
      m_controller(m_serial, m_image, *this) {
  ComMessageEvent::Type();  // registered before any watcher thread can post
  BuildDialog(*this, kMainTemplate);
  DoDataExchange();
  OnInitDialog();
  WireHandlers();
}

CLoaderDlg::~CLoaderDlg() = default;

int CLoaderDlg::DoModal() { return exec(); }

void CLoaderDlg::DoDataExchange() {
  m_btnSettings = DlgItem<QPushButton>(*this, IDC_SETTINGS);
  m_btnProgram = DlgItem<QPushButton>(*this, IDC_PROGRAM);
  m_btnConnect = DlgItem<QPushButton>(*this, IDC_CONNECT);
  m_status = DlgItem<QLabel>(*this, IDC_STATUS);
}

// Only the direction "to the window" exists: the status line is shown by
// assigning m_strStatus and calling UpdateData(false). The colour follows
// m_statusGreen, as the status line is repainted with the text.
void CLoaderDlg::UpdateData(bool bSaveAndValidate) {
  if (bSaveAndValidate) {
    return;
  }
  QPalette palette = m_status->palette();
  palette.setColor(QPalette::WindowText, QColor(m_statusGreen ? kStatusGreen : kStatusRed));
  m_status->setPalette(palette);
  m_status->setText(m_strStatus);
  emit statusShown(m_strStatus);
}

// The bindings of messages to handlers. Timer expiries reach OnTimer through
// timerEvent, and watcher notifications reach OnComMessage through event.
void CLoaderDlg::WireHandlers() {
  connect(m_btnSettings, &QPushButton::clicked, this, &CLoaderDlg::OnSettings);
  connect(m_btnConnect, &QPushButton::clicked, this, &CLoaderDlg::OnConnect);
  connect(m_btnProgram, &QPushButton::clicked, this, &CLoaderDlg::OnProgram);
  connect(m_sysMenu, &QMenu::triggered, this,
          [this](QAction* action) { OnSysCommand(action->data().toInt()); });
  auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
  connect(help, &QShortcut::activated, this, [this] { OnSysCommand(IDM_ABOUTBOX); });
}

void CLoaderDlg::OnInitDialog() {
  BuildSystemMenu();
  setWindowIcon(m_hIcon);
  m_nPort = 1;
  m_statusFont = StatusFont();
  m_status->setFont(m_statusFont);
  m_statusGreen = false;
  m_strStatus = QString::fromLatin1(text::kNotConnected);
  UpdateData(false);
  m_btnConnect->setEnabled(true);
  m_btnProgram->setEnabled(false);
  m_btnSettings->setEnabled(true);
  m_btnConnect->setFocus();
}

// The window menu belongs to the window manager here, so the dialog offers
// its own as the context menu: Close, then the About item after a separator
// when its string loads.
void CLoaderDlg::BuildSystemMenu() {
  m_sysMenu = new QMenu(this);
  m_sysMenu->addAction(QStringLiteral("&Close\tAlt+F4"))->setData(SC_CLOSE);
  const QString about = LoadResourceString(kAboutBoxStringPath);
  if (!about.isEmpty()) {
    m_sysMenu->addSeparator();
    m_sysMenu->addAction(about)->setData(IDM_ABOUTBOX);
  }
}

void CLoaderDlg::contextMenuEvent(QContextMenuEvent* event) {
  m_sysMenu->exec(event->globalPos());
}

void CLoaderDlg::OnSysCommand(int nID) {
  if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
    CAboutDlg dlgAbout(this);
    dlgAbout.DoModal();
  } else if ((nID & 0xFFF0) == SC_CLOSE) {
    close();
  }
}

// A cancelled Settings dialog ends with the choice it was given, so the
// end code is always the choice to keep.
void CLoaderDlg::OnSettings() {
  CSettingsDlg dlg(m_nPort, this);
  m_nPort = dlg.DoModal();
}

void CLoaderDlg::OnConnect() { m_controller.ToggleConnection(); }

// The line can drop while the chooser is open (a run under way fails, its
// message box answered meanwhile); the file chosen then is not sent, and
// the user is told why instead of seeing nothing happen.
void CLoaderDlg::OnProgram() {
  QString path;
  if (!m_chooseFile(this, path)) {
    return;
  }
  if (!m_controller.IsConnected()) {
    ShowMessage(QString::fromLatin1(kNotConnectedNotSent).arg(path).toStdString());
    return;
  }
  m_controller.StartRun(QFile::encodeName(path).toStdString());
}

void CLoaderDlg::OnTimer(uint32_t nIDEvent) { m_controller.HandleTimer(nIDEvent); }

void CLoaderDlg::OnComMessage(uint32_t wParam, intptr_t /*lParam*/) {
  m_controller.HandleLineEvent(wParam & 0xFFFF);
}

bool CLoaderDlg::event(QEvent* event) {
  if (event->type() == ComMessageEvent::Type()) {
    const auto* message = static_cast<ComMessageEvent*>(event);
    if (message->m_message == DefaultComMessage) {
      OnComMessage(message->m_wParam, message->m_lParam);
    }
    return true;
  }
  return QDialog::event(event);
}

void CLoaderDlg::timerEvent(QTimerEvent* event) {
  const auto found = std::find_if(m_timers.begin(), m_timers.end(), [event](const auto& entry) {
    return entry.second.timerId() == event->timerId();
  });
  if (found == m_timers.end()) {
    QDialog::timerEvent(event);
    return;
  }
  OnTimer(found->first);
}

void CLoaderDlg::PostComMessage(uint32_t message, uint32_t wParam, intptr_t lParam) {
  QCoreApplication::postEvent(this, new ComMessageEvent(message, wParam, lParam));
}

void CLoaderDlg::ShowConnected() {
  m_btnProgram->setEnabled(true);
  m_btnConnect->setText(QStringLiteral("Disconnect"));
  m_btnSettings->setEnabled(false);
  m_statusGreen = true;
  m_strStatus = QString::fromLatin1(text::kConnected);
  UpdateData(false);
}

void CLoaderDlg::ShowDisconnected() {
  m_btnConnect->setText(QStringLiteral("Connect"));
  m_btnProgram->setEnabled(false);
  m_btnSettings->setEnabled(true);
  m_statusGreen = false;
  m_strStatus = QString::fromLatin1(text::kNotConnected);
  UpdateData(false);
}

void CLoaderDlg::ShowStatus(const std::string& text) {
  m_strStatus = QString::fromStdString(text);
  UpdateData(false);
}

void CLoaderDlg::ShowMessage(const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon, AppName(), QString::fromStdString(text), QMessageBox::Ok,
                  this);
  box.setTextFormat(Qt::PlainText);  // file and port names are shown as they are
  box.exec();
}

// Qt::PreciseTimer: a coarse timer may fire early, and the connect probe
// window must run its full length.
void CLoaderDlg::StartTimer(uint32_t id, uint32_t ms) {
  m_timers[id].start(static_cast<int>(std::min<uint32_t>(ms, INT_MAX)), Qt::PreciseTimer, this);
}

void CLoaderDlg::StopTimer(uint32_t id) {
  const auto found = m_timers.find(id);
  if (found != m_timers.end()) {
    found->second.stop();
  }
}

void CLoaderDlg::OpenProgress(uint32_t range) {
  m_progressDlg = new CProgressDlg(static_cast<int>(std::min<uint32_t>(range, INT_MAX)), this);
}

void CLoaderDlg::SetProgress(uint32_t position) {
  if (m_progressDlg != nullptr) {
    m_progressDlg->SetPos(static_cast<int>(std::min<uint32_t>(position, INT_MAX)));
  }
}

void CLoaderDlg::CloseProgress() {
  delete m_progressDlg;
  m_progressDlg = nullptr;
}

}  // namespace vexel

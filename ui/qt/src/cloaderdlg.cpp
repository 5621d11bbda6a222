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
#include "ui/dialog_tables.h"
#include "ui/dialog_template.h"
#include "ui/resource.h"

namespace vexel {
namespace {

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

// The status font; where its face is missing, the heaviest weight of the
// default sans-serif family.
QFont StatusFont() {
  QFont font(QString::fromLatin1(kStatusFontFace), kStatusFontPoints);
  if (QFontInfo(font).family() == font.family()) {
    return font;
  }
  QFont heavy;
  heavy.setStyleHint(QFont::SansSerif);
  heavy.setFamily(heavy.defaultFamily());
  heavy.setPointSize(kStatusFontPoints);
  heavy.setWeight(QFont::Black);
  return heavy;
}

}  // namespace

bool ChooseImageFile(QWidget* parent, QString& path) {
  QFileDialog dialog(parent, QStringLiteral("Open"), QString(),
                     QString::fromUtf8(kImageFilterName));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::AnyFile);  // a missing file is reported by the run
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
    return false;
  }
  path = dialog.selectedFiles().constFirst();
  return true;
}

QString AppName() { return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName(); }

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

// The colour is set before the text, so the status line is repainted in it.
void CLoaderDlg::DrawLook(const LoaderLook& look) {
  m_btnConnect->setText(QString::fromStdString(look.connectText));
  m_btnProgram->setEnabled(look.programEnabled);
  m_btnSettings->setEnabled(look.settingsEnabled);
  QPalette palette = m_status->palette();
  palette.setColor(QPalette::WindowText, QColor(static_cast<QRgb>(look.statusRgb)));
  m_status->setPalette(palette);
  const QString status = QString::fromStdString(look.status);
  m_status->setText(status);
  emit statusShown(status);
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
  InitLook();
  m_btnConnect->setFocus();
}

// The window menu belongs to the window manager here, so the dialog offers
// its own as the context menu.
void CLoaderDlg::BuildSystemMenu() {
  m_sysMenu = new QMenu(this);
  const std::string about = LoadResourceString(kAboutBoxStringPath).toStdString();
  for (const MenuItem& item : ContextMenuItems(about)) {
    if (item.command == 0) {
      m_sysMenu->addSeparator();
    } else {
      m_sysMenu->addAction(QString::fromStdString(item.text))->setData(item.command);
    }
  }
}

void CLoaderDlg::contextMenuEvent(QContextMenuEvent* event) { m_sysMenu->exec(event->globalPos()); }

void CLoaderDlg::OnSysCommand(int nID) {
  if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
    CAboutDlg dlgAbout(this);
    dlgAbout.DoModal();
  } else if ((nID & 0xFFF0) == kCloseCommand) {
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

// Qt names files in UTF-8 on Linux, so the run opens the path the message
// names.
void CLoaderDlg::OnProgram() {
  QString path;
  if (m_chooseFile(this, path)) {
    ProgramFile(m_controller, path.toStdString());
  }
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

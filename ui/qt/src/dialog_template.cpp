#include "ui/dialog_template.h"

#include <algorithm>

#include <QAbstractButton>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

#include "ui/resource.h"

namespace vexel {
namespace {

constexpr const char* kControlIdProperty = "controlId";

// Scales like the platform's MulDiv: rounds half away from zero.
int MulDiv(int value, int numerator, int denominator) {
  const long long product = static_cast<long long>(value) * numerator;
  const long long half = denominator / 2;
  const long long rounded = product >= 0 ? product + half : product - half;
  return static_cast<int>(rounded / denominator);
}

Qt::WindowFlags FrameFlags(bool systemMenu) {
  Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::MSWindowsFixedSizeDialogHint;
  if (systemMenu) {
    flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  }
  return flags;
}

// The classic bar: a bordered trough filled with separate blocks.
QString SegmentedBarStyle(int height) {
  const int block = std::max(4, height * 2 / 3);
  return QStringLiteral(
             "QProgressBar { border: 1px solid palette(dark); background: palette(base); "
             "padding: 1px; }"
             "QProgressBar::chunk { background: palette(highlight); width: %1px; "
             "margin-right: 2px; }")
      .arg(block);
}

QWidget* NewControl(const ControlTemplate& control, QDialog& dialog) {
  const QString text = QString::fromUtf8(control.text);
  switch (control.kind) {
    case ControlKind::PushButton: return new QPushButton(text, &dialog);
    case ControlKind::RadioButton: return new QRadioButton(text, &dialog);
    case ControlKind::GroupBox: return new QGroupBox(text, &dialog);
    case ControlKind::StaticText: return new QLabel(text, &dialog);
    case ControlKind::StaticPicture: {
      auto* picture = new QLabel(&dialog);
      if (control.image == IDB_PICTURE) {  // a missing picture leaves it empty
        picture->setPixmap(QPixmap(QString::fromLatin1(kPicturePath)));
      }
      return picture;
    }
    case ControlKind::ProgressBar: return new QProgressBar(&dialog);
  }
  return new QWidget(&dialog);
}

void ApplyStyle(QWidget& widget, const ControlTemplate& control) {
  const bool clickable = control.kind == ControlKind::PushButton ||
                         control.kind == ControlKind::RadioButton;
  if (clickable) {
    widget.setFocusPolicy((control.style & kTabStop) ? Qt::StrongFocus : Qt::ClickFocus);
  }
  if (auto* button = qobject_cast<QPushButton*>(&widget)) {
    button->setDefault((control.style & kDefaultButton) != 0);
  }
  if (auto* label = qobject_cast<QLabel*>(&widget)) {
    label->setTextFormat(Qt::PlainText);
    label->setAlignment((control.style & kCentre) ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignTop);
  }
  if (auto* bar = qobject_cast<QProgressBar*>(&widget)) {
    bar->setTextVisible(false);
    if (control.style & kSegmented) {
      bar->setStyleSheet(SegmentedBarStyle(widget.height()));
    }
  }
}

}  // namespace

QFont DialogFont() {
  QFont font(QString::fromLatin1(kDialogFontFace));
  font.setPointSize(kDialogFontPoints);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  m_baseX = metrics.averageCharWidth();
  m_baseY = metrics.height();
}

int DialogUnits::X(int units) const { return MulDiv(units, m_baseX, 4); }
int DialogUnits::Y(int units) const { return MulDiv(units, m_baseY, 8); }

QRect DialogUnits::Rect(int x, int y, int cx, int cy) const {
  return QRect(X(x), Y(y), X(cx), Y(cy));
}

QSize DialogUnits::Size(int cx, int cy) const { return QSize(X(cx), Y(cy)); }

void BuildDialog(QDialog& dialog, const DialogTemplate& tmpl) {
  dialog.setProperty("dialogId", tmpl.id);
  dialog.setWindowTitle(QString::fromUtf8(tmpl.caption));
  dialog.setWindowFlags(FrameFlags((tmpl.style & kSystemMenu) != 0));
  dialog.setFont(DialogFont());
  const DialogUnits units(dialog.font());
  dialog.setFixedSize(units.Size(tmpl.cx, tmpl.cy));
  for (size_t i = 0; i < tmpl.count; ++i) {
    const ControlTemplate& control = tmpl.controls[i];
    QWidget* widget = NewControl(control, dialog);
    widget->setObjectName(QString::fromUtf8(control.name));
    widget->setProperty(kControlIdProperty, control.id);
    widget->setGeometry(units.Rect(control.x, control.y, control.cx, control.cy));
    ApplyStyle(*widget, control);
  }
}

bool PressMnemonic(QWidget& dialog, const QKeyEvent& event) {
  // Shift and the keypad still type the same character.
  if ((event.modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier)) != Qt::NoModifier) {
    return false;
  }
  const auto buttons = dialog.findChildren<QAbstractButton*>();
  for (QAbstractButton* button : buttons) {
    const QKeySequence mnemonic = QKeySequence::mnemonic(button->text());
    if (!mnemonic.isEmpty() && mnemonic[0].key() == event.key() && button->isEnabled() &&
        button->isVisible()) {
      button->click();
      return true;
    }
  }
  return false;
}

QWidget* GetDlgItem(const QWidget& dialog, int id) {
  const auto children = dialog.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
  for (QWidget* child : children) {
    const QVariant value = child->property(kControlIdProperty);
    if (value.isValid() && value.toInt() == id) {
      return child;
    }
  }
  return nullptr;
}

}  // namespace vexel

#include "dialog_checks.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include "ui/dialog_template.h"

namespace vexel::test {

void ExpectTemplate(const QDialog& dialog, int cx, int cy,
                    const std::vector<ExpectedControl>& expected) {
  const DialogUnits units(dialog.font());
  EXPECT_EQ(dialog.size(), units.Size(cx, cy));
  EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize()) << "not resizable";
  const auto children = dialog.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
  std::vector<QWidget*> controls;
  for (QWidget* child : children) {
    if (child->property("controlId").isValid()) {
      controls.push_back(child);
    }
  }
  ASSERT_EQ(controls.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const ExpectedControl& want = expected[i];
    QWidget* got = controls[i];
    SCOPED_TRACE(want.name);
    EXPECT_EQ(got->property("controlId").toInt(), want.id);
    EXPECT_EQ(got->objectName(), QString::fromLatin1(want.name));
    EXPECT_STREQ(got->metaObject()->className(), want.className);
    const QVariant text = got->property("text");
    if (text.isValid() && want.text != nullptr) {
      EXPECT_EQ(text.toString(), QString::fromLatin1(want.text));
    }
    EXPECT_EQ(got->geometry(), units.Rect(want.x, want.y, want.cx, want.cy));
    EXPECT_EQ((got->focusPolicy() & Qt::TabFocus) != 0, want.tabStop);
    if (const auto* label = qobject_cast<const QLabel*>(got)) {
      EXPECT_EQ(label->textFormat(), Qt::PlainText)
          << "texts are shown as they are, never as markup";
    }
  }
}

std::vector<std::string> TabOrder(QDialog& dialog) {
  std::vector<std::string> names;
  QWidget* start = dialog.nextInFocusChain();
  for (QWidget* w = start; w != &dialog; w = w->nextInFocusChain()) {
    if ((w->focusPolicy() & Qt::TabFocus) != 0 && w->parent() == &dialog) {
      names.push_back(w->objectName().toStdString());
    }
  }
  return names;
}

ShowWatcher::ShowWatcher(const char* className, Answer answer)
    : m_className(className), m_answer(std::move(answer)) {
  qApp->installEventFilter(this);
}

ShowWatcher::~ShowWatcher() { qApp->removeEventFilter(this); }

// Records the box as it is shown, then answers it from the box's own modal
// loop, so the code that opened it continues as after a user's answer.
bool ShowWatcher::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::Show || event->spontaneous() || !watched->inherits(m_className)) {
    return false;
  }
  auto* window = qobject_cast<QWidget*>(watched);
  if (window == nullptr || !window->isWindow()) {
    return false;
  }
  ++m_count;
  m_titles.push_back(window->windowTitle());
  auto* box = qobject_cast<QMessageBox*>(window);
  m_texts.push_back(box != nullptr ? box->text() : QString());
  m_buttonCounts.push_back(box != nullptr ? static_cast<int>(box->buttons().size()) : 0);
  m_textFormats.push_back(box != nullptr ? box->textFormat() : Qt::AutoText);
  QPointer<QWidget> guard(window);
  QTimer::singleShot(0, this, [this, guard] {
    if (guard) {
      m_answer(*guard);
    }
    emit answered();
  });
  return false;
}

void PressOk(QWidget& box) {
  auto* messageBox = qobject_cast<QMessageBox*>(&box);
  ASSERT_NE(messageBox, nullptr);
  QAbstractButton* ok = messageBox->button(QMessageBox::Ok);
  ASSERT_NE(ok, nullptr);
  ok->click();
}

}  // namespace vexel::test

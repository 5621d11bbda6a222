// Checks shared by the dialog tests: a template's expected contents compared
// with the widgets a dialog built, and a watcher that answers modal boxes.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QDialog>
#include <QObject>
#include <QPointer>
#include <QString>

namespace vexel::test {

/// One control as the template states it.
struct ExpectedControl {
  int id;
  const char* name;
  const char* className;  ///< Qt class, e.g. "QPushButton"
  const char* text;
  int x, y, cx, cy;  ///< dialog units
  bool tabStop;
};

/// Compares the direct child controls of @p dialog, in creation (tab) order,
/// with @p expected: ids, names, classes, texts and geometry converted with
/// the dialog font's average character width and height.
void ExpectTemplate(const QDialog& dialog, int cx, int cy,
                    const std::vector<ExpectedControl>& expected);

/// The focus chain of @p dialog's tab stops, by object name, enabled or not.
std::vector<std::string> TabOrder(QDialog& dialog);

/// Watches for windows of class @p className being shown (modal boxes and
/// popup menus included) and runs @p answer on each from the event loop right
/// after it is shown, as a user would answer it.
class ShowWatcher : public QObject {
  Q_OBJECT

 public:
  using Answer = std::function<void(QWidget&)>;
  ShowWatcher(const char* className, Answer answer);
  ~ShowWatcher() override;

  int Count() const { return m_count; }
  const std::vector<QString>& Titles() const { return m_titles; }
  const std::vector<QString>& Texts() const { return m_texts; }
  /// Number of buttons of each message box seen (0 for other dialogs).
  const std::vector<int>& ButtonCounts() const { return m_buttonCounts; }
  /// How each message box renders its text (Qt::AutoText for other dialogs).
  const std::vector<Qt::TextFormat>& TextFormats() const { return m_textFormats; }

 signals:
  /// A window has been answered.
  void answered();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  const char* m_className;
  Answer m_answer;
  int m_count = 0;
  std::vector<QString> m_titles;
  std::vector<QString> m_texts;
  std::vector<int> m_buttonCounts;
  std::vector<Qt::TextFormat> m_textFormats;
};

/// Presses the one OK button of a message box and records nothing more.
void PressOk(QWidget& box);

}  // namespace vexel::test

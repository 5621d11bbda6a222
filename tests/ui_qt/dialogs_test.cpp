// The Settings, progress and About dialogs: template contents, end codes,
// the progress range and positions, and each dialog's life.
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "dialog_checks.h"
#include "ui/caboutdlg.h"
#include "ui/cprogressdlg.h"
#include "ui/csettingsdlg.h"
#include "ui/dialog_template.h"
#include "ui/resource.h"

namespace vexel::test {
namespace {

bool HasCloseBox(const QWidget& window) {
  return (window.windowFlags() & Qt::WindowCloseButtonHint) != 0;
}

// ---- Settings ----------------------------------------------------------

TEST(SettingsDlg, TemplateContents) {
  CSettingsDlg dlg(1);
  EXPECT_EQ(dlg.windowTitle(), "Settings");
  EXPECT_TRUE(HasCloseBox(dlg));
  EXPECT_FALSE(dlg.isVisible()) << "hidden until DoModal";
  // clang-format off
  ExpectTemplate(dlg, 131, 94,
                 {
                     // id        name          class           text     x   y   cx   cy  tab stop
                     {kOkButton,  "IDOK",       "QPushButton",  "OK",    40, 73, 50,  14, true},
                     {IDC_STATIC, "IDC_STATIC", "QGroupBox",    nullptr,  7,  7, 117, 46, false},
                     {IDC_COM1,   "IDC_COM1",   "QRadioButton", "COM&1", 26, 24, 37,  15, false},
                     {IDC_COM2,   "IDC_COM2",   "QRadioButton", "COM&2", 73, 24, 36,  15, false},
                 });
  // clang-format on
  EXPECT_EQ(DlgItem<QGroupBox>(dlg, IDC_STATIC)->title(), "Port");
  EXPECT_TRUE(DlgItem<QPushButton>(dlg, kOkButton)->isDefault());
  EXPECT_EQ(TabOrder(dlg), std::vector<std::string>{"IDOK"}) << "OK is the only tab stop";
  EXPECT_EQ(dlg.focusWidget(), DlgItem<QPushButton>(dlg, kOkButton)) << "OK takes the focus";
}

// What the user does while the dialog is open.
using Action = std::function<void(CSettingsDlg&)>;

void Click(CSettingsDlg& dlg, int id) {
  QTest::mouseClick(DlgItem<QAbstractButton>(dlg, id), Qt::LeftButton);
}
const Action kOk = [](CSettingsDlg& dlg) { Click(dlg, kOkButton); };
const Action kEscape = [](CSettingsDlg& dlg) { QTest::keyClick(&dlg, Qt::Key_Escape); };
const Action kCloseBox = [](CSettingsDlg& dlg) { dlg.close(); };
const Action kCom1 = [](CSettingsDlg& dlg) { Click(dlg, IDC_COM1); };
const Action kCom2 = [](CSettingsDlg& dlg) { Click(dlg, IDC_COM2); };
// A key typed where the focus is (OK): mnemonics need no Alt in a dialog.
Action Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  return [key, modifiers](CSettingsDlg& dlg) {
    QApplication::setActiveWindow(&dlg);
    QTest::keyClick(dlg.focusWidget(), key, modifiers);
  };
}
const Action kKey1 = Key(Qt::Key_1);
const Action kKey2 = Key(Qt::Key_2);
// Alt+2 still works; Qt's own mnemonic clicks after a short visible press.
const Action kAlt2 = [](CSettingsDlg& dlg) {
  QSignalSpy clicked(DlgItem<QRadioButton>(dlg, IDC_COM2), &QAbstractButton::clicked);
  Key(Qt::Key_2, Qt::AltModifier)(dlg);
  EXPECT_TRUE(clicked.count() == 1 || clicked.wait(5000));
};

struct SettingsCase {
  const char* what;
  int start;
  std::vector<Action> actions;
  int checked;  // the radio button checked when the dialog opens
  int endCode;
};

class SettingsEnd : public testing::TestWithParam<SettingsCase> {};

TEST_P(SettingsEnd, ReturnsTheChoiceOrKeepsTheEarlierOne) {
  const SettingsCase& c = GetParam();
  CSettingsDlg dlg(c.start);
  int checkedOnOpen = 0;
  QTimer::singleShot(0, &dlg, [&] {
    checkedOnOpen = DlgItem<QRadioButton>(dlg, IDC_COM1)->isChecked()   ? IDC_COM1
                    : DlgItem<QRadioButton>(dlg, IDC_COM2)->isChecked() ? IDC_COM2
                                                                        : 0;
    for (const Action& action : c.actions) {
      action(dlg);
    }
  });
  EXPECT_EQ(dlg.DoModal(), c.endCode);
  EXPECT_EQ(checkedOnOpen, c.checked);
  EXPECT_FALSE(dlg.isVisible());
}

const SettingsCase kSettingsCases[] = {
    {"OkKeepsCom1", 1, {kOk}, IDC_COM1, 1},
    {"OkKeepsCom2", 2, {kOk}, IDC_COM2, 2},
    {"OkReturnsAnUntouchedOddValue", 7, {kOk}, IDC_COM1, 7},
    {"OkReturnsAnUntouchedZero", 0, {kOk}, IDC_COM1, 0},
    {"OkReturnsAnUntouchedNegative", -5, {kOk}, IDC_COM1, -5},
    {"Com2ThenOk", 1, {kCom2, kOk}, IDC_COM1, 2},
    {"Com1ThenOk", 2, {kCom1, kOk}, IDC_COM2, 1},
    {"OddValueCom2ThenOk", 7, {kCom2, kOk}, IDC_COM1, 2},
    {"Com2Com1ThenOk", 1, {kCom2, kCom1, kOk}, IDC_COM1, 1},
    {"EscapeKeepsCom1", 1, {kEscape}, IDC_COM1, 1},
    {"EscapeAfterCom2KeepsCom1", 1, {kCom2, kEscape}, IDC_COM1, 1},
    {"EscapeAfterCom1KeepsCom2", 2, {kCom1, kEscape}, IDC_COM2, 2},
    {"CloseBoxKeepsCom1", 1, {kCom2, kCloseBox}, IDC_COM1, 1},
    {"CloseBoxKeepsCom2", 2, {kCloseBox}, IDC_COM2, 2},
    {"EscapeKeepsAnOddValue", 7, {kCom2, kEscape}, IDC_COM1, 7},
    {"Key2ThenOk", 1, {kKey2, kOk}, IDC_COM1, 2},
    {"Key1ThenOk", 2, {kKey1, kOk}, IDC_COM2, 1},
    {"Key2Key1ThenEnter", 2, {kKey2, kKey1, Key(Qt::Key_Return)}, IDC_COM2, 1},
    {"KeypadKey2ThenOk", 1, {Key(Qt::Key_2, Qt::KeypadModifier), kOk}, IDC_COM1, 2},
    {"AltKey2ThenOk", 1, {kAlt2, kOk}, IDC_COM1, 2},
    {"Key3IsNoMnemonic", 2, {Key(Qt::Key_3), kOk}, IDC_COM2, 2},
    {"CtrlKey1IsNoMnemonic", 2, {Key(Qt::Key_1, Qt::ControlModifier), kOk}, IDC_COM2, 2},
    {"Key2ThenEscapeKeepsCom1", 1, {kKey2, kEscape}, IDC_COM1, 1},
};

INSTANTIATE_TEST_SUITE_P(Cases, SettingsEnd, testing::ValuesIn(kSettingsCases),
                         [](const auto& param) { return std::string(param.param.what); });

TEST(SettingsDlg, RadioButtonsAreExclusive) {
  CSettingsDlg dlg(2);
  QTimer::singleShot(0, &dlg, [&] {
    Click(dlg, IDC_COM1);
    EXPECT_TRUE(DlgItem<QRadioButton>(dlg, IDC_COM1)->isChecked());
    EXPECT_FALSE(DlgItem<QRadioButton>(dlg, IDC_COM2)->isChecked());
    kOk(dlg);
  });
  EXPECT_EQ(dlg.DoModal(), 1);
}

// ---- Progress ----------------------------------------------------------

TEST(ProgressDlg, TemplateContentsAndNoWayToCloseIt) {
  CProgressDlg dlg(1000);
  EXPECT_EQ(dlg.windowTitle(), "Programming progress");
  EXPECT_TRUE(dlg.isVisible()) << "shown by the constructor";
  EXPECT_FALSE(dlg.isModal());
  EXPECT_FALSE(HasCloseBox(dlg));
  EXPECT_FALSE(dlg.windowFlags() & Qt::WindowSystemMenuHint);
  EXPECT_TRUE(dlg.findChildren<QAbstractButton*>().isEmpty()) << "no button";
  // clang-format off
  ExpectTemplate(dlg, 186, 62,
                 {
                     // id          name            class           text     x   y   cx   cy  tab stop
                     {IDC_PROGRESS, "IDC_PROGRESS", "QProgressBar", nullptr, 7, 22, 172, 15, false},
                 });
  // clang-format on
  const auto* bar = DlgItem<QProgressBar>(dlg, IDC_PROGRESS);
  EXPECT_FALSE(bar->isTextVisible());
  EXPECT_EQ(bar->orientation(), Qt::Horizontal);
}

TEST(ProgressDlg, RangeAndPositions) {
  CProgressDlg dlg(1000);
  const auto* bar = DlgItem<QProgressBar>(dlg, IDC_PROGRESS);
  EXPECT_EQ(bar->minimum(), 0);
  EXPECT_EQ(bar->maximum(), 1000);
  EXPECT_EQ(bar->value(), 0) << "starts empty";
  EXPECT_EQ(dlg.SetPos(500), 0);
  EXPECT_EQ(bar->value(), 500);
  EXPECT_EQ(dlg.SetPos(1000), 500);
  EXPECT_EQ(bar->value(), 1000);
  EXPECT_EQ(dlg.SetPos(1200), 1000) << "clamped to the range";
  EXPECT_EQ(bar->value(), 1000);
}

TEST(ProgressDlg, RangeBeyondSixteenBitsStaysTrueToScale) {
  CProgressDlg dlg(200000);
  EXPECT_EQ(dlg.Range(), 200000);
  EXPECT_EQ(DlgItem<QProgressBar>(dlg, IDC_PROGRESS)->maximum(), 200000);
  EXPECT_EQ(dlg.SetPos(131072), 0);
  EXPECT_EQ(dlg.Pos(), 131072);
}

TEST(ProgressDlg, EmptyImageShowsAnEmptyBar) {
  CProgressDlg dlg(0);
  EXPECT_EQ(dlg.Range(), 0);
  EXPECT_EQ(dlg.Pos(), 0);
  EXPECT_NE(DlgItem<QProgressBar>(dlg, IDC_PROGRESS)->maximum(), 0) << "not a busy bar";
}

TEST(ProgressDlg, EnterAndEscapeOnlyHideIt) {
  for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
    CProgressDlg dlg(100);
    QTest::keyClick(&dlg, key);
    EXPECT_FALSE(dlg.isVisible()) << key;
    EXPECT_EQ(dlg.SetPos(40), 0) << "the hidden bar still moves";
    EXPECT_EQ(dlg.SetPos(60), 40);
  }
}

TEST(ProgressDlg, OpensOverTheOwnersClientOrigin) {
  QDialog owner;
  owner.resize(400, 300);
  owner.move(120, 80);
  owner.show();
  auto* dlg = new CProgressDlg(10, &owner);
  EXPECT_EQ(dlg->frameGeometry().topLeft(), owner.mapToGlobal(QPoint(0, 0)));
  EXPECT_FALSE(dlg->isModal()) << "the owner stays usable";
  delete dlg;
}

// ---- About -------------------------------------------------------------

TEST(AboutDlg, TemplateContents) {
  CAboutDlg dlg;
  EXPECT_EQ(dlg.windowTitle(), "About Vexel Loader");
  EXPECT_TRUE(HasCloseBox(dlg));
  // clang-format off
  ExpectTemplate(dlg, 235, 55,
                 {
                     // id        name          class          text                        x    y   cx   cy  tab stop
                     {IDC_STATIC, "IDC_STATIC", "QLabel",      "Vexel Loader Version 1.0", 40,  10, 119,  8, false},
                     {IDC_STATIC, "IDC_STATIC", "QLabel",      nullptr,                    40,  25, 134,  8, false},
                     {kOkButton,  "IDOK",       "QPushButton", "OK",                      178,   7,  50, 14, true},
                 });
  // clang-format on
  const auto labels = dlg.findChildren<QLabel*>();
  ASSERT_EQ(labels.size(), 2);
  EXPECT_TRUE(labels[1]->text().startsWith("Copyright (C) ")) << labels[1]->text().toStdString();
  EXPECT_TRUE(DlgItem<QPushButton>(dlg, kOkButton)->isDefault());
  EXPECT_TRUE(labels[0]->pixmap().isNull() && labels[1]->pixmap().isNull()) << "no icon";
}

TEST(AboutDlg, EndsWithOkEscapeOrCloseBox) {
  const std::vector<std::function<void(CAboutDlg&)>> enders = {
      [](CAboutDlg& dlg) {
        QTest::mouseClick(DlgItem<QPushButton>(dlg, kOkButton), Qt::LeftButton);
      },
      [](CAboutDlg& dlg) { QTest::keyClick(&dlg, Qt::Key_Escape); },
      [](CAboutDlg& dlg) { dlg.close(); },
  };
  for (const auto& end : enders) {
    CAboutDlg dlg;
    QSignalSpy finished(&dlg, &QDialog::finished);
    QTimer::singleShot(0, &dlg, [&] { end(dlg); });
    dlg.DoModal();
    EXPECT_EQ(finished.count(), 1);
    EXPECT_FALSE(dlg.isVisible());
  }
}

// ---- Dialog units ------------------------------------------------------

TEST(DialogUnits, QuarterCharacterWidthAndEighthOfHeight) {
  const QFont font = DialogFont();
  const QFontMetrics metrics(font);
  const DialogUnits units(font);
  EXPECT_EQ(font.pointSize(), 8);
  EXPECT_EQ(units.X(4), metrics.averageCharWidth());
  EXPECT_EQ(units.Y(8), metrics.height());
  EXPECT_EQ(units.X(400), metrics.averageCharWidth() * 100);
  EXPECT_EQ(units.Y(800), metrics.height() * 100);
  EXPECT_EQ(units.X(0), 0);
}

}  // namespace
}  // namespace vexel::test

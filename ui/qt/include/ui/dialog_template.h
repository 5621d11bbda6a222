// The builder that turns a dialog template (ui/dialog_tables.h) into Qt
// widgets sized with the dialog font.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>
#include <QWidget>

#include "ui/dialog_tables.h"

class QDialog;
class QKeyEvent;

namespace vexel {

/// The font every template names: 8 point "MS Sans Serif", or the default
/// sans-serif face at 8 points where that face is missing.
QFont DialogFont();

/// Converts dialog units to pixels for one font: a horizontal unit is a
/// quarter of the font's average character width, a vertical unit an eighth
/// of its height, each rounded to the nearest pixel.
class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);

  int X(int units) const;
  int Y(int units) const;
  QRect Rect(int x, int y, int cx, int cy) const;
  QSize Size(int cx, int cy) const;

  int BaseX() const { return m_baseX; }
  int BaseY() const { return m_baseY; }

 private:
  int m_baseX;
  int m_baseY;
};

/// Gives @p dialog the template's caption, font, fixed size and window
/// frame, and creates its controls in template (and so tab) order. Each
/// control carries its id in the property "controlId".
void BuildDialog(QDialog& dialog, const DialogTemplate& tmpl);

/// A key typed without Alt that no control took (the focus is not in an
/// edit field) clicks the button whose mnemonic it is, as in any dialog of
/// the platform: "2" selects "COM&2". True when a button took it.
bool PressMnemonic(QWidget& dialog, const QKeyEvent& event);

/// The control of @p dialog with @p id (the first one for IDC_STATIC), or null.
QWidget* GetDlgItem(const QWidget& dialog, int id);

/// The control with @p id as a @p T, or null when it is missing or another kind.
template <class T>
T* DlgItem(const QWidget& dialog, int id) {
  return qobject_cast<T*>(GetDlgItem(dialog, id));
}

}  // namespace vexel

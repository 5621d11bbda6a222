// Dialog templates as data: the controls of a dialog with their ids, texts,
// tab order and geometry in dialog units, and the builder that turns one into
// Qt widgets sized with the dialog font.
#pragma once

#include <cstddef>
#include <cstdint>

#include <QFont>
#include <QRect>
#include <QSize>
#include <QWidget>

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

enum class ControlKind { PushButton, RadioButton, GroupBox, StaticText, StaticPicture, ProgressBar };

/// Style bits of a control; those a control does not have are off.
enum ControlStyle : uint32_t {
  kTabStop = 1u << 0,        ///< reached with Tab, in template order
  kDefaultButton = 1u << 1,  ///< Enter presses it
  kCentre = 1u << 2,         ///< text or picture centred both ways
  kSegmented = 1u << 3,      ///< progress bar drawn in blocks, with a border
};

struct ControlTemplate {
  int id;
  const char* name;   ///< the control's object name, e.g. "IDC_CONNECT"
  ControlKind kind;
  const char* text;   ///< caption, or the resource path of a picture
  int x, y, cx, cy;   ///< dialog units
  uint32_t style;
};

struct DialogTemplate {
  int id;
  const char* caption;
  int cx, cy;  ///< client area, dialog units
  bool systemMenu;  ///< false: no close box
  const ControlTemplate* controls;
  size_t count;
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

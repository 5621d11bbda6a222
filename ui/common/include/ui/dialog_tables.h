// The program's dialog templates as data, free of any toolkit: the controls
// of each dialog with their ids, texts, tab order, geometry in dialog units
// and styles. The Qt dialogs build widgets from these tables; the Windows
// build turns them into the executable's DIALOG resources (ui/dialog_script.h),
// which the Win32 dialogs load. So both show the same.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexel {

/// The font every template names.
constexpr const char* kDialogFontFace = "MS Sans Serif";
constexpr int kDialogFontPoints = 8;

enum class ControlKind {
  PushButton,
  RadioButton,
  GroupBox,
  StaticText,
  StaticPicture,
  ProgressBar
};

/// Style bits of a control; those a control does not have are off.
enum ControlStyle : uint32_t {
  kTabStop = 1u << 0,        ///< reached with Tab, in template order
  kDefaultButton = 1u << 1,  ///< Enter presses it
  kCentre = 1u << 2,         ///< text or picture centred both ways
  kSegmented = 1u << 3,      ///< progress bar drawn in blocks, with a border
  kGroup = 1u << 4,          ///< starts a group of controls
  kNoPrefix = 1u << 5,       ///< '&' in the text is shown, not a mnemonic
};

/// Style bits of a dialog.
enum DialogStyle : uint32_t {
  kDialogVisible = 1u << 0,     ///< shown as soon as it is created
  kSystemMenu = 1u << 1,        ///< has the window menu and the close box
  kAppWindow = 1u << 2,         ///< has a task-bar button
  kExtendedTemplate = 1u << 3,  ///< a DIALOGEX resource; the others are DIALOG
};

struct ControlTemplate {
  int id;
  const char* name;  ///< the control's name, e.g. "IDC_CONNECT"
  ControlKind kind;
  const char* text;  ///< caption (UTF-8); empty for a picture
  int image;         ///< bitmap resource id of a picture, else 0
  int x, y, cx, cy;  ///< dialog units
  uint32_t style;    ///< ControlStyle bits
};

struct DialogTemplate {
  int id;
  const char* name;  ///< the template's name, e.g. "IDD_MAIN"
  const char* caption;
  int cx, cy;      ///< client area, dialog units
  uint32_t style;  ///< DialogStyle bits
  const ControlTemplate* controls;
  size_t count;
};

/// @name The program's templates
/// @{
extern const DialogTemplate kMainTemplate;      ///< IDD_MAIN
extern const DialogTemplate kSettingsTemplate;  ///< IDD_SETTINGS
extern const DialogTemplate kProgressTemplate;  ///< IDD_PROGRESS
extern const DialogTemplate kAboutTemplate;     ///< IDD_ABOUTBOX
/// @}

/// @name Texts the dialogs set at run time
/// @{
constexpr const char* kConnectText = "Connect";
constexpr const char* kDisconnectText = "Disconnect";
constexpr const char* kImageFilterName = "Module binary files (*.mbf)";
constexpr const char* kImageFilterPattern = "*.mbf";
/// A file chosen while the line is down; %s is its path.
constexpr const char* kNotSentText = "Not connected: %s was not sent";
/// The context menu's Close item.
constexpr const char* kCloseMenuText = "&Close\tAlt+F4";
/// @}

/// @name Colours of the status line, 0xRRGGBB, and its font
/// @{
constexpr uint32_t kStatusGreenRgb = 0x00C864;  // RGB(0, 200, 100)
constexpr uint32_t kStatusRedRgb = 0xFF0000;    // RGB(255, 0, 0)
constexpr const char* kStatusFontFace = "Arial Black";
constexpr int kStatusFontPoints = 18;
/// @}

}  // namespace vexel

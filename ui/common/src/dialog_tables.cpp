#include "ui/dialog_tables.h"

#include <iterator>

#include "ui/resource.h"
#include "ui/version.h"

namespace vexel {
namespace {

// None of the buttons is the default one; all three are tab stops.
// clang-format off
constexpr ControlTemplate kMainControls[] = {
    // id          name            kind                        text                 image        x    y   cx   cy  style
    {IDC_CONNECT,  "IDC_CONNECT",  ControlKind::PushButton,    "Connect",           0,             7,   7,  56,  15, kTabStop},
    {IDC_PROGRAM,  "IDC_PROGRAM",  ControlKind::PushButton,    "Program module...", 0,            76,   7,  68,  15, kTabStop},
    {IDC_SETTINGS, "IDC_SETTINGS", ControlKind::PushButton,    "Settings...",       0,           223,   7,  56,  15, kTabStop},
    {IDC_STATIC,   "IDC_STATIC",   ControlKind::StaticPicture, "",                  IDB_PICTURE,   7,  36, 272, 123, kCentre},
    {IDC_STATUS,   "IDC_STATUS",   ControlKind::StaticText,    "",                  0,             7, 164, 272,  19, kCentre | kGroup},
};
// clang-format on

// The radio buttons are no tab stops: OK is the only one, and the keyboard
// reaches the ports through their mnemonics.
// clang-format off
constexpr ControlTemplate kSettingsControls[] = {
    // id        name          kind                      text    image  x   y   cx   cy  style
    {kOkButton,  "IDOK",       ControlKind::PushButton,  "OK",    0,   40, 73,  50, 14, kTabStop | kDefaultButton},
    {IDC_STATIC, "IDC_STATIC", ControlKind::GroupBox,    "Port",  0,    7,  7, 117, 46, kGroup},
    {IDC_COM1,   "IDC_COM1",   ControlKind::RadioButton, "COM&1", 0,   26, 24,  37, 15, 0},
    {IDC_COM2,   "IDC_COM2",   ControlKind::RadioButton, "COM&2", 0,   73, 24,  36, 15, 0},
};
// clang-format on

// clang-format off
constexpr ControlTemplate kProgressControls[] = {
    // id          name            kind                      text         image  x   y   cx   cy  style
    {IDC_PROGRESS, "IDC_PROGRESS", ControlKind::ProgressBar, "Progress1",  0,    7, 22, 172, 15, kSegmented},
};
// clang-format on

// clang-format off
constexpr ControlTemplate kAboutControls[] = {
    // id        name          kind                     text                                        image   x    y   cx   cy  style
    {IDC_STATIC, "IDC_STATIC", ControlKind::StaticText, "Vexel Loader Version " VEXEL_VERSION_SHORT, 0,     40,  10, 119,  8, kNoPrefix | kGroup},
    {IDC_STATIC, "IDC_STATIC", ControlKind::StaticText, VEXEL_COPYRIGHT,                             0,     40,  25, 134,  8, kGroup},
    {kOkButton,  "IDOK",       ControlKind::PushButton, "OK",                                       0,    178,   7,  50, 14, kTabStop | kDefaultButton | kGroup},
};
// clang-format on

}  // namespace

const DialogTemplate kMainTemplate{IDD_MAIN,
                                   "IDD_MAIN",
                                   "Vexel Module Loader",
                                   286,
                                   190,
                                   kDialogVisible | kSystemMenu | kAppWindow | kExtendedTemplate,
                                   kMainControls,
                                   std::size(kMainControls)};

const DialogTemplate kSettingsTemplate{
    IDD_SETTINGS, "IDD_SETTINGS", "Settings",        131,
    94,           kSystemMenu,    kSettingsControls, std::size(kSettingsControls)};

// No system menu, so no close box: the user cannot end it.
const DialogTemplate kProgressTemplate{
    IDD_PROGRESS, "IDD_PROGRESS", "Programming progress", 186,
    62,           kDialogVisible, kProgressControls,      std::size(kProgressControls)};

const DialogTemplate kAboutTemplate{IDD_ABOUTBOX, "IDD_ABOUTBOX", "About Vexel Loader",     235, 55,
                                    kSystemMenu,  kAboutControls, std::size(kAboutControls)};

}  // namespace vexel

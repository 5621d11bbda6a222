// Identifiers of the program's resources, dialog templates and controls, and
// where the Qt resource system keeps the resources' contents. Shared by the
// Qt and the Win32 dialogs. The buttons and the menu command that the Win32
// headers define as macros (IDOK, IDCANCEL, SC_CLOSE) have names of their own
// here, so that either header may come first; the Win32 dialogs check them
// against those (cdialog.cpp).
#pragma once

namespace vexel {

/// @name Dialog templates
/// @{
constexpr int IDD_ABOUTBOX = 100;
constexpr int IDD_MAIN = 102;
constexpr int IDD_SETTINGS = 132;
constexpr int IDD_PROGRESS = 133;
/// @}

/// @name Icon, bitmap and string resources
/// @{
constexpr int IDS_ABOUTBOX = 101;
constexpr int IDR_MAINFRAME = 128;
constexpr int IDB_PICTURE = 131;
/// @}

/// @name Controls
/// IDC_COM2 and IDC_PROGRESS share 1010: they live in different templates.
/// @{
constexpr int IDC_STATIC = -1;
constexpr int kOkButton = 1;      ///< IDOK
constexpr int kCancelButton = 2;  ///< IDCANCEL
constexpr int IDC_CONNECT = 1000;
constexpr int IDC_PROGRAM = 1002;
constexpr int IDC_SETTINGS = 1003;
constexpr int IDC_STATUS = 1004;
constexpr int IDC_COM1 = 1009;
constexpr int IDC_COM2 = 1010;
constexpr int IDC_PROGRESS = 1010;
/// @}

/// @name Menu commands
/// @{
constexpr int IDM_ABOUTBOX = 0x0010;   ///< the About item of the window menu
constexpr int kCloseCommand = 0xF060;  ///< SC_CLOSE: the window menu's Close item
/// @}

/// @name Paths of the resources in the Qt resource system
/// The application's resource set (library `app`) provides them; a dialog
/// whose resource is missing goes without it.
/// @{
constexpr const char* kIconPath32 = ":/vexel/IDR_MAINFRAME-32.png";
constexpr const char* kIconPath16 = ":/vexel/IDR_MAINFRAME-16.png";
constexpr const char* kPicturePath = ":/vexel/IDB_PICTURE.png";
constexpr const char* kAboutBoxStringPath = ":/vexel/IDS_ABOUTBOX.txt";
/// @}

}  // namespace vexel

// Small Win32 helpers shared by the dialogs: the application name, the
// resource module and the message box. UTF-8 <-> UTF-16 and the owned
// handles come from the Win32 support library.
#pragma once

#include <windows.h>

#include <string>

#include "winsupport/unique_handle.h"
#include "winsupport/utf16.h"

namespace vexel {

/// The application name: the executable's file name without its extension.
/// Message boxes carry it as their caption.
std::wstring AppName();

/// The module whose resources the dialogs load (the executable).
HINSTANCE ResourceInstance();

/// A modal box with the text, one OK button and AppName() as its caption,
/// owned by @p owner. Returns when the user dismisses it.
void AppMessageBox(HWND owner, const std::string& text);

}  // namespace vexel

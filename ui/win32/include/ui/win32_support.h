// Small Win32 helpers shared by the dialogs: UTF-8 <-> UTF-16 at the edge,
// owned GDI, menu and kernel handles, and the application name.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <type_traits>

namespace vexel {

/// UTF-8 to UTF-16 and back; invalid sequences become U+FFFD.
std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);

/// The application name: the executable's file name without its extension.
/// Message boxes carry it as their caption.
std::wstring AppName();

/// The module whose resources the dialogs load (the executable).
HINSTANCE ResourceInstance();

/// A modal box with the text, one OK button and AppName() as its caption,
/// owned by @p owner. Returns when the user dismisses it.
void AppMessageBox(HWND owner, const std::string& text);

struct GdiObjectCloser {
  void operator()(HGDIOBJ object) const { ::DeleteObject(object); }
};
/// A font owned by its holder: deleted with it.
using UniqueFont = std::unique_ptr<std::remove_pointer_t<HFONT>, GdiObjectCloser>;

struct MenuCloser {
  void operator()(HMENU menu) const { ::DestroyMenu(menu); }
};
/// A menu owned by its holder: destroyed with it.
using UniqueMenu = std::unique_ptr<std::remove_pointer_t<HMENU>, MenuCloser>;

struct HandleCloser {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
/// A kernel handle owned by its holder; never INVALID_HANDLE_VALUE.
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

}  // namespace vexel

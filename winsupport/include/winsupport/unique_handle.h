// Owned Win32 handles: each kind with its closer, released when its holder
// goes, so that no path closes a handle twice or forgets it.
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

namespace vexel {

struct KernelHandleCloser {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
/// A kernel handle (file, event, thread) owned by its holder; empty rather
/// than INVALID_HANDLE_VALUE.
using UniqueHandle = std::unique_ptr<void, KernelHandleCloser>;

/// Takes CreateFile's result: INVALID_HANDLE_VALUE gives an empty holder.
inline UniqueHandle OwnFile(HANDLE file) {
  return UniqueHandle(file == INVALID_HANDLE_VALUE ? nullptr : file);
}

struct RegistryKeyCloser {
  void operator()(HKEY key) const { ::RegCloseKey(key); }
};
/// An open registry key owned by its holder.
using UniqueRegistryKey = std::unique_ptr<std::remove_pointer_t<HKEY>, RegistryKeyCloser>;

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

}  // namespace vexel

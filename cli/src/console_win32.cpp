#include <windows.h>
#include <io.h>

#include <cstdio>

#include "cli/console.h"

namespace vexel::cli {
namespace {

// A console (not a file or pipe) with virtual-terminal sequences switched on,
// so that the bars' cursor movements work.
bool IsVirtualTerminal(DWORD which) {
  HANDLE handle = ::GetStdHandle(which);
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || !::GetConsoleMode(handle, &mode)) return false;
  return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
         ::SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

}  // namespace

ConsoleInfo InspectConsole() {
  ConsoleInfo info;
  info.outIsTerminal = IsVirtualTerminal(STD_OUTPUT_HANDLE);
  info.errIsTerminal = _isatty(_fileno(stderr)) != 0;
  CONSOLE_SCREEN_BUFFER_INFO screen{};
  if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_OUTPUT_HANDLE), &screen)) {
    info.width = screen.srWindow.Right - screen.srWindow.Left + 1;
  }
  return info;
}

// The standard handles need no care on Windows: a missing one fails its
// writes, and there is no signal for a reader that has gone.
void PrepareStandardStreams() {}

// A COM port is never the console.
std::string OwnTerminalRefusal(const std::string&) { return {}; }

bool WriteFully(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const int n = _write(fd, text.data() + done, static_cast<unsigned>(text.size() - done));
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool SameFile(int a, int b) {
  HANDLE first = reinterpret_cast<HANDLE>(_get_osfhandle(a));
  HANDLE second = reinterpret_cast<HANDLE>(_get_osfhandle(b));
  DWORD mode = 0;
  // Two console handles are the one console window.
  if (::GetConsoleMode(first, &mode) && ::GetConsoleMode(second, &mode)) return true;
  BY_HANDLE_FILE_INFORMATION one{};
  BY_HANDLE_FILE_INFORMATION two{};
  return ::GetFileInformationByHandle(first, &one) && ::GetFileInformationByHandle(second, &two) &&
         one.dwVolumeSerialNumber == two.dwVolumeSerialNumber &&
         one.nFileIndexHigh == two.nFileIndexHigh && one.nFileIndexLow == two.nFileIndexLow;
}

bool NeverBlocks(int fd) {
  return ::GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(fd))) == FILE_TYPE_DISK;
}

}  // namespace vexel::cli

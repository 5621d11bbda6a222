#include <windows.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>

#include "console/console.h"
#include "winsupport/utf16.h"

namespace vexel::cli {
namespace {

// The console's output code page before the loader set UTF-8; 0: unchanged.
UINT g_userCodePage = 0;

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
// writes, and there is no signal for a reader that has gone. A console
// shows bytes in its output code page, and the loader writes UTF-8; the
// console is the user's, so their code page comes back at exit.
void PrepareStandardStreams() {
  const UINT codePage = ::GetConsoleOutputCP();
  if (codePage == 0 || codePage == CP_UTF8 || !::SetConsoleOutputCP(CP_UTF8)) return;
  g_userCodePage = codePage;
  std::atexit([] { ::SetConsoleOutputCP(g_userCodePage); });
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr || count != argc) {
    if (wide != nullptr) ::LocalFree(wide);
    return std::vector<std::string>(argv, argv + argc);
  }
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) args.push_back(Narrow(wide[i]));
  ::LocalFree(wide);
  return args;
}

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

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "cli/console.h"

namespace vexel::cli {

ConsoleInfo InspectConsole() {
  ConsoleInfo info;
  const char* term = std::getenv("TERM");
  info.outIsTerminal = ::isatty(STDOUT_FILENO) == 1 && !(term && std::strcmp(term, "dumb") == 0);
  struct winsize size {};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) info.width = size.ws_col;
  info.errIsTerminal = ::isatty(STDERR_FILENO) == 1;
  return info;
}

}  // namespace vexel::cli

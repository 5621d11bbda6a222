// What the loader needs to know about, and do with, the streams and the
// terminal it was started with; one file per platform.
#pragma once

#include <string>

namespace vexel::cli {

struct ConsoleInfo {
  bool outIsTerminal = false;  ///< standard output is a terminal that shows bars
  bool errIsTerminal = false;  ///< standard error is a terminal
  int width = 0;               ///< the output terminal's columns; 0 when unknown
};

/// Looks at the standard output and error as they are now.
ConsoleInfo InspectConsole();

}  // namespace vexel::cli

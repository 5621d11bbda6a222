// Exit codes of the command-line loader, one per failure class.
#pragma once

#include <string>
#include <vector>

#include "protocol/programming_controller.h"

namespace vexel::cli {

/// @name Exit codes
/// The loader's exit status tells the failure class:
///  - 0 every port ended with "MODULE LOADED".
///  - 2 usage: bad or missing arguments.
///  - 3 image file: the image cannot be opened or read.
///  - 4 port: a port cannot be opened or set to 57600 8E2.
///  - 5 no connect reply within the one-second probe window.
///  - 6 module not responding: a reply did not come in time.
///  - 7 invalid response from the module (or an internal error).
///  - 8 the audit log of a station session cannot be written.
///  - 9 a port went away during the run (adapter unplugged, driver stopped).
///  - 130 interrupted by Ctrl-C, SIGTERM or SIGHUP (Windows: Ctrl-C,
///    Ctrl-Break, closing the console); every port was closed. A reader of
///    the output that goes away ends only the output, not the load.
/// With several ports, the first failing port in command-line order sets the
/// status; an interruption overrides every other outcome.
/// @{
enum ExitCode : int {
  kExitOk = 0,
  kExitUsage = 2,
  kExitImageFile = 3,
  kExitPortOpen = 4,
  kExitNoConnectReply = 5,
  kExitNotResponding = 6,
  kExitInvalidResponse = 7,
  kExitAuditLog = 8,
  kExitLineLost = 9,
  kExitInterrupted = 130,
};
/// @}

struct ExitClass {
  int code;
  const char* name;     ///< short outcome name for tables and JSON
  const char* meaning;  ///< one line for --help and the man page
};

/// Every exit code with its meaning, in ascending order.
const std::vector<ExitClass>& ExitClasses();

/// The short name of exit code @p code ("loaded", "not-responding", ...).
const char* ExitClassName(int code);

/// The exit code of a port whose controller ended with @p failure.
int ExitCodeFor(Failure failure);

/// The program's status from the ports' codes in command-line order.
int CombinedExitCode(const std::vector<int>& portCodes, bool interrupted);

/// The table for --help: one "  code  meaning" line per class.
std::string ExitCodeTable();

}  // namespace vexel::cli

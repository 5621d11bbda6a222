// The audit file on Windows: the system's wording and codes the shared cases
// expect. A full disk is covered there by a failing sink.
#include <windows.h>

#include <string>

#include "serial/serial_port.h"

namespace vexel::cli::test {

// Wine words it "Path not found", Windows "The system cannot find the path
// specified": the code is what both share.
std::string MissingDirectoryText() { return DescribeOsError(ERROR_PATH_NOT_FOUND); }
int DiskFullError() { return ERROR_DISK_FULL; }

}  // namespace vexel::cli::test

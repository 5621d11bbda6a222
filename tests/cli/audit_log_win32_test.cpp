// The audit file on Windows: the system's wording and codes the shared cases
// expect. A full disk is covered there by a failing sink.
#include <windows.h>

#include <string>

namespace vexel::cli::test {

std::string MissingDirectoryText() { return "The system cannot find the path specified"; }
int DiskFullError() { return ERROR_DISK_FULL; }

}  // namespace vexel::cli::test

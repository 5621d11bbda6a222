// Windows's reasons for a COM port that cannot be opened. CreateFile gives
// access denied for a port another program holds (COM ports open
// exclusively) and file not found for a port the machine does not have.
#include <windows.h>

#include "runner/open_diagnosis.h"
#include "serial/serial_port.h"

namespace vexel::cli {

std::string DescribeAccess(const std::string&) { return {}; }

std::vector<std::string> FindPortTraps(const std::string&, const std::string&) { return {}; }

std::string DescribeOpenFailure(const std::string&, int osError, const std::string&) {
  switch (osError) {
    case 0: return {};
    case ERROR_ACCESS_DENIED:
      return DescribeOsError(osError) + "; the port is in use by another program";
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return DescribeOsError(osError) +
             "; there is no such COM port here; --list-ports shows the serial ports";
    default: return DescribeOsError(osError);
  }
}

}  // namespace vexel::cli

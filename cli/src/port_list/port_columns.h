// The columns of the port table: what the platform knows of its ports
// (Linux: by-id links and USB serial numbers; Windows: neither).
#pragma once

#include <string>
#include <vector>

#include "port_list/port_list.h"

namespace vexel::cli {

struct PortColumn {
  const char* header;
  std::string SerialPortInfo::*field;
};

/// Defined in port_list_posix.cpp and port_list_win32.cpp.
std::vector<PortColumn> PortTableColumns();

}  // namespace vexel::cli

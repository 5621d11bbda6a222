// Windows: the latency timer is the FTDI driver's, read from the registry
// with the port list; nothing is known here yet.
#include "cli/adapter_latency.h"

namespace vexel::cli {

int ReadLatencyTimer(const std::string&, const std::string&) { return -1; }

std::string LatencyWarning(const std::string&, const std::string&) { return {}; }

}  // namespace vexel::cli

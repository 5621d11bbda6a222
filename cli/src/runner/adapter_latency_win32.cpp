// Windows: the latency timer is the FTDI driver's, kept in the registry
// beside the COM name (read with the port list, never written). Only the
// user can change it, in the device manager.
#include "runner/adapter_latency.h"

namespace vexel::cli {

std::string TtyNameOf(const std::string& device, const std::string&) { return device; }

std::string LatencyWarning(const std::string& device, const std::string& root) {
  const int ms = ReadLatencyTimer(device, root);
  if (ms <= 1) return {};
  return "the adapter's latency timer is " + std::to_string(ms) +
         " ms, so every reply waits up to that long; set it to 1 in the device manager: the "
         "port's Properties, Port Settings, Advanced..., Latency Timer (msec)";
}

}  // namespace vexel::cli

// Linux: the latency timer that USB serial drivers with one (ftdi_sio) show
// in sysfs. The serial library asks for low latency at every open, which
// ftdi_sio answers by setting the timer to 1 ms; a driver that ignores the
// request leaves it where it was, and only the user can change that.
#include "runner/adapter_latency.h"

#include <filesystem>
#include <fstream>

namespace vexel::cli {
namespace fs = std::filesystem;

std::string TtyNameOf(const std::string& device, const std::string& root) {
  std::error_code error;
  const fs::path inRoot = fs::path(root) / fs::path(device).relative_path();
  const fs::path resolved = fs::weakly_canonical(inRoot, error);
  return (error ? inRoot : resolved).filename().string();
}

int ReadLatencyTimer(const std::string& device, const std::string& root) {
  const std::string name = TtyNameOf(device, root);
  if (name.empty()) return -1;
  std::ifstream in(fs::path(root) / "sys/class/tty" / name / "device/latency_timer");
  int ms = -1;
  if (!(in >> ms) || ms < 0) return -1;
  return ms;
}

std::string LatencyWarning(const std::string& device, const std::string& root) {
  const int ms = ReadLatencyTimer(device, root);
  if (ms <= 1) return {};
  const std::string name = TtyNameOf(device, root);
  return "the adapter's latency timer is " + std::to_string(ms) +
         " ms, so every reply waits up to that long (1 ms loads about twice as fast); set it "
         "with: echo 1 | sudo tee /sys/bus/usb-serial/devices/" +
         name +
         "/latency_timer, or for good with the udev rule line: ACTION==\"add\", "
         "SUBSYSTEM==\"usb-serial\", DRIVER==\"ftdi_sio\", ATTR{latency_timer}=\"1\"";
}

}  // namespace vexel::cli

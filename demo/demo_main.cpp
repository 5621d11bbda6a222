// Runs Connect and one programming run of a built-in 1000-byte image against
// the simulated module, printing every status and event as it happens
// (virtual milliseconds since Connect).
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "protocol/programming_controller.h"
#include "sim/memory_port.h"
#include "sim/module_simulator.h"
#include "sim/virtual_host.h"

int main() {
  using namespace vexel;
  sim::VirtualClock clock;
  sim::ModuleSimulator module;
  sim::MemoryPort port(module, clock);
  SnapshotImageFile image;
  sim::VirtualHost host(clock);
  ProgrammingController controller(port, image, host);
  host.Attach(&controller);
  host.OnEvent([&](const std::string& line) {
    std::printf("%6llu ms  %s\n", static_cast<unsigned long long>(clock.Now()), line.c_str());
  });

  std::vector<char> contents(1000);
  for (size_t i = 0; i < contents.size(); ++i) contents[i] = static_cast<char>(i * 31);
  const std::string path = "/tmp/vexel-demo-image.mbf";
  std::ofstream(path, std::ios::binary).write(contents.data(), static_cast<long>(contents.size()));

  std::printf("simulated module on COM1, image %s (%zu bytes)\n", path.c_str(), contents.size());
  controller.ToggleConnection();
  clock.AdvanceBy(kConnectWindowMs);
  if (!controller.IsConnected()) return 1;
  controller.StartRun(path);
  while (controller.IsRunning() && clock.RunNext()) {
  }
  controller.ToggleConnection();
  std::remove(path.c_str());

  const bool loaded = module.FlashedImages().size() == 1 &&
                      module.FlashedImages()[0] ==
                          std::vector<uint8_t>(contents.begin(), contents.end());
  std::printf("module flashed %s image\n", loaded ? "the same" : "a DIFFERENT");
  return loaded ? 0 : 1;
}

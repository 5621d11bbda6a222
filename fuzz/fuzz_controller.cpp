// Drives the controller with an arbitrary script of inputs in every state:
// bytes and line events from the module's side, Connect/Disconnect, runs of
// images of any length and the passing of time. The module simulator answers
// the requests, so runs get deep into the exchange before the noise hits.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "protocol/programming_controller.h"
#include "sim/memory_port.h"
#include "sim/module_simulator.h"
#include "sim/virtual_host.h"

namespace {

class Script {
 public:
  Script(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
  bool More() const { return m_at < m_size; }
  uint8_t Byte() { return More() ? m_data[m_at++] : 0; }
  std::vector<uint8_t> Bytes(size_t n) {
    std::vector<uint8_t> out;
    while (n-- > 0 && More()) out.push_back(Byte());
    return out;
  }

 private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_at = 0;
};

const std::string& ImagePath(size_t length) {
  static std::string path = "/tmp/vexel-fuzz-image-" + std::to_string(::getpid()) + ".mbf";
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (size_t i = 0; i < length; ++i) out.put(static_cast<char>(i ^ 0xB0));
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vexel;
  sim::VirtualClock clock;
  sim::ModuleSimulator module;
  sim::MemoryPort port(module, clock);
  SnapshotImageFile image;
  sim::VirtualHost host(clock);
  ProgrammingController controller(port, image, host);
  host.Attach(&controller);

  Script script(data, size);
  while (script.More()) {
    switch (script.Byte() % 8) {
      case 0: controller.ToggleConnection(); break;
      case 1: controller.StartRun(ImagePath(script.Byte() * 3u)); break;
      case 2: port.Inject(script.Bytes(script.Byte() % 64)); break;
      case 3: port.Inject({}, script.Byte() | static_cast<uint32_t>(script.Byte()) << 8); break;
      case 4: clock.AdvanceBy(script.Byte() * 50u); break;
      case 5: clock.RunDue(); break;
      case 6: host.SetPortChoice(script.Byte() % 3); break;
      default:
        module.AddFault({static_cast<sim::FaultKind>(script.Byte() % 7), script.Byte() % 8,
                         script.Byte() * 20u, false});
        break;
    }
  }
  clock.AdvanceBy(20000);
  // However it ended, a failure leaves nothing running behind a closed port.
  if (!port.IsOpen() && host.RunningTimers() != 0) __builtin_trap();
  return 0;
}

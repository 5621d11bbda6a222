// Drives the controller with an arbitrary script of inputs in every state:
// bytes and line events from the module's side, Connect/Disconnect, runs of
// images of any length and the passing of time. The module simulator answers
// the requests, so runs get deep into the exchange before the noise hits.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
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

// The image a run opens: a file in memory, rewritten only when the length
// changes, so runs neither touch the disk nor cost a write each. The
// controller still reads it through the real image file code.
std::string ImagePath(uint8_t selector) {
  if (selector == 0xFF) return "/nonexistent/image.mbf";
  static const int fd = ::memfd_create("vexel-fuzz-image", MFD_CLOEXEC);
  static size_t length = ~size_t{0};
  const size_t wanted = selector * 3u;
  if (wanted != length) {
    std::vector<uint8_t> bytes(wanted);
    for (size_t i = 0; i < wanted; ++i) bytes[i] = static_cast<uint8_t>(i ^ 0xB0);
    if (::ftruncate(fd, static_cast<off_t>(wanted)) != 0 ||
        ::pwrite(fd, bytes.data(), wanted, 0) != static_cast<ssize_t>(wanted)) {
      __builtin_trap();
    }
    length = wanted;
  }
  return "/proc/self/fd/" + std::to_string(fd);
}

constexpr size_t kMaxFaults = 16;

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
  size_t faults = 0;
  while (script.More()) {
    switch (script.Byte() % 8) {
      case 0: controller.ToggleConnection(); break;
      case 1: controller.StartRun(ImagePath(script.Byte())); break;
      case 2: port.Inject(script.Bytes(script.Byte() % 64)); break;
      case 3: port.Inject({}, script.Byte() | static_cast<uint32_t>(script.Byte()) << 8); break;
      case 4: clock.AdvanceBy(script.Byte() * 50u); break;
      case 5: clock.RunDue(); break;
      case 6: host.SetPortChoice(script.Byte() % 3); break;
      default: {
        const auto kind = static_cast<sim::FaultKind>(script.Byte() % 7);
        const uint8_t where = script.Byte();
        const uint8_t amount = script.Byte();
        // Delays up to 5.1 s reach past every reply timer. A few noise bytes
        // find what thousands do, and thousands make a run slow.
        const uint32_t param = kind == sim::FaultKind::Noise ? amount % 16u : amount * 20u;
        // Faults at one step add up; a handful finds what hundreds do.
        if (++faults <= kMaxFaults) module.AddFault({kind, where % 8, param, (where & 0x80) != 0});
        break;
      }
    }
  }
  clock.AdvanceBy(20000);
  // However it ended, a failure leaves nothing running behind a closed port.
  if (!port.IsOpen() && host.RunningTimers() != 0) __builtin_trap();
  return 0;
}

// Drives the controller with an arbitrary script of inputs in every state:
// bytes and line events from the module's side, Connect/Disconnect, runs of
// images of any length and the passing of time. The module simulator answers
// the requests, so runs get deep into the exchange before the noise hits.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
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

// The image a run opens, in memory: a file on disk would cost a write and a
// read per run and make the target slow. The path names the length, and
// "missing" is a file that cannot be opened.
class MemoryImageFile final : public vexel::ImageFile {
 public:
  static std::string PathFor(uint8_t selector) {
    return selector == 0xFF ? "missing" : "image-" + std::to_string(selector * 3u);
  }
  bool Open(const std::string& path) override {
    Close();
    if (path.rfind("image-", 0) != 0) return false;
    m_data.resize(std::stoul(path.substr(6)));
    for (size_t i = 0; i < m_data.size(); ++i) m_data[i] = static_cast<uint8_t>(i ^ 0xB0);
    m_open = true;
    return true;
  }
  void Close() override {
    m_open = false;
    m_position = 0;
    m_data.clear();
  }
  bool IsOpen() const override { return m_open; }
  uint32_t GetLength() const override { return static_cast<uint32_t>(m_data.size()); }
  uint32_t GetPosition() const override { return m_position; }
  uint32_t Read(void* buffer, uint32_t count) override {
    const uint32_t n = std::min<uint32_t>(count, GetLength() - m_position);
    if (n > 0) std::memcpy(buffer, m_data.data() + m_position, n);
    m_position += n;
    return n;
  }

 private:
  std::vector<uint8_t> m_data;
  uint32_t m_position = 0;
  bool m_open = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vexel;
  sim::VirtualClock clock;
  sim::ModuleSimulator module;
  sim::MemoryPort port(module, clock);
  MemoryImageFile image;
  sim::VirtualHost host(clock);
  ProgrammingController controller(port, image, host);
  host.Attach(&controller);

  Script script(data, size);
  while (script.More()) {
    switch (script.Byte() % 8) {
      case 0: controller.ToggleConnection(); break;
      case 1: controller.StartRun(MemoryImageFile::PathFor(script.Byte())); break;
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
        module.AddFault({kind, where % 8, param, (where & 0x80) != 0});
        break;
      }
    }
  }
  clock.AdvanceBy(20000);
  // However it ended, a failure leaves nothing running behind a closed port.
  if (!port.IsOpen() && host.RunningTimers() != 0) __builtin_trap();
  return 0;
}

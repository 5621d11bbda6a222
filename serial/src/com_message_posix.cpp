// The process-wide registry of notification message ids.
#include <map>
#include <mutex>
#include <string>

#include "serial/serial_wnd.h"

namespace vexel {
namespace {

constexpr uint32_t kFirstRegisteredId = 0xC000;
constexpr uint32_t kLastRegisteredId = 0xFFFF;

struct Registry {
  std::mutex lock;
  std::map<std::string, uint32_t> ids;
  uint32_t next = kFirstRegisteredId;
};

// Built on first use, so registrations from other translation units'
// static initialisation find it ready.
Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

uint32_t RegisterComMessage(const char* name) {
  if (name == nullptr || *name == '\0') return 0;
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> guard(registry.lock);
  auto found = registry.ids.find(name);
  if (found != registry.ids.end()) return found->second;
  if (registry.next > kLastRegisteredId) return 0;
  registry.ids.emplace(name, registry.next);
  return registry.next++;
}

extern const uint32_t DefaultComMessage = RegisterComMessage("CSerialWnd_DefaultComMsg");

}  // namespace vexel

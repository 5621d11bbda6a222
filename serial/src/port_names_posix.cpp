#include "serial/port_names.h"

#include <cstdlib>

#include "com_name.h"

namespace vexel {

std::string ResolvePortName(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  const unsigned long n = comm::ComNumber(name);
  if (n == 0) return name;
  const std::string variable = "VEXEL_COM" + std::to_string(n);
  if (const char* device = std::getenv(variable.c_str()); device != nullptr && *device != '\0') {
    return device;
  }
  return "/dev/ttyS" + std::to_string(n - 1);
}

}  // namespace vexel

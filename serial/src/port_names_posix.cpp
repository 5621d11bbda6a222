#include "serial/port_names.h"

#include <cctype>
#include <cstdlib>

namespace vexel {
namespace {

// The n of "COMn", or 0 when the name is not of that form.
unsigned long ComNumber(const std::string& name) {
  if (name.size() < 4 || name.size() > 12) return 0;
  for (size_t i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return 0;
  }
  if (name[3] == '0') return 0;
  for (size_t i = 3; i < name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return 0;
  }
  return std::strtoul(name.c_str() + 3, nullptr, 10);
}

}  // namespace

std::string ResolvePortName(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  const unsigned long n = ComNumber(name);
  if (n == 0) return name;
  const std::string variable = "VEXEL_COM" + std::to_string(n);
  if (const char* device = std::getenv(variable.c_str()); device != nullptr && *device != '\0') {
    return device;
  }
  return "/dev/ttyS" + std::to_string(n - 1);
}

}  // namespace vexel

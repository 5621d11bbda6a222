#include "serial/port_names.h"

#include "com_name.h"

namespace vexel {

// The device namespace prefix is what makes COM10 and up openable; the
// system accepts it for COM1 to COM9 too.
std::string ResolvePortName(const std::string& name) {
  return comm::ComNumber(name) != 0 ? "\\\\.\\" + name : name;
}

}  // namespace vexel

#include "cli/port_list.h"

#include "text_table.h"

namespace vexel::cli {

std::string FormatPortTable(const std::vector<SerialPortInfo>& ports) {
  if (ports.empty()) return "No serial ports found.\n";
  TextTable table({"DEVICE", "BY-ID", "USB", "SERIAL", "PRODUCT"});
  for (const auto& port : ports) {
    table.AddRow({port.device, port.byId, port.usbId, port.serial, port.product});
  }
  return table.Render();
}

}  // namespace vexel::cli

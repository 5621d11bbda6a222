#include "port_list/port_list.h"

#include "output/text_table.h"
#include "port_list/port_columns.h"

namespace vexel::cli {

std::string FormatPortTable(const std::vector<SerialPortInfo>& ports) {
  if (ports.empty()) return "No serial ports found.\n";
  const std::vector<PortColumn> columns = PortTableColumns();
  std::vector<std::string> header;
  for (const auto& column : columns) header.push_back(column.header);
  TextTable table(header);
  for (const auto& port : ports) {
    std::vector<std::string> row;
    for (const auto& column : columns) row.push_back(port.*column.field);
    table.AddRow(row);
  }
  return table.Render();
}

}  // namespace vexel::cli

#include <gtest/gtest.h>

#include "serial/port_names.h"

namespace vexel {
namespace {

TEST(ResolvePortNameWin32, ComNamesTakeTheDevicePrefixOthersStandAsTheyAre) {
  const struct {
    const char* name;
    const char* resolved;
  } table[] = {
      {"COM1", "\\\\.\\COM1"},
      {"com2", "\\\\.\\com2"},
      {"COM10", "\\\\.\\COM10"},
      {"COM255", "\\\\.\\COM255"},
      {"\\\\.\\COM3", "\\\\.\\COM3"},
      {"COM0", "COM0"},
      {"COM01", "COM01"},
      {"COM", "COM"},
      {"COM1x", "COM1x"},
      {"LPT1", "LPT1"},
      {"", ""},
  };
  for (const auto& row : table) EXPECT_EQ(ResolvePortName(row.name), row.resolved) << row.name;
}

}  // namespace
}  // namespace vexel

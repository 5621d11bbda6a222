#include <gtest/gtest.h>
#include <stdlib.h>

#include "serial/port_names.h"

namespace vexel {
namespace {

struct NameRow {
  const char* name;
  const char* resolved;
};

TEST(ResolvePortName, ComNamesPathsAndOthers) {
  ::unsetenv("VEXEL_COM1");
  ::unsetenv("VEXEL_COM2");
  ::unsetenv("VEXEL_COM12");
  ::setenv("VEXEL_COM7", "/dev/pts/42", 1);
  ::setenv("VEXEL_COM8", "", 1);
  const NameRow table[] = {
      {"COM1", "/dev/ttyS0"},
      {"COM2", "/dev/ttyS1"},
      {"com12", "/dev/ttyS11"},
      {"COM7", "/dev/pts/42"},  // from the environment
      {"COM8", "/dev/ttyS7"},   // an empty variable counts as unset
      {"/dev/ttyUSB0", "/dev/ttyUSB0"},
      {"/dev/serial/by-id/usb-FTDI-if00", "/dev/serial/by-id/usb-FTDI-if00"},
      {"./COM1", "./COM1"},
      {"COM0", "COM0"},
      {"COM01", "COM01"},
      {"COM", "COM"},
      {"COM1x", "COM1x"},
      {"LPT1", "LPT1"},
      {"", ""},
  };
  for (const NameRow& row : table) {
    EXPECT_EQ(ResolvePortName(row.name), row.resolved) << row.name;
  }
  ::unsetenv("VEXEL_COM7");
  ::unsetenv("VEXEL_COM8");
}

}  // namespace
}  // namespace vexel

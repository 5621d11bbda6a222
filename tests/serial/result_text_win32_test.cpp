// On Windows result codes are GetLastError values and their texts the system's.
#include <windows.h>
#include <gtest/gtest.h>

#include "comm_api.h"
#include "serial/serial_port.h"
#include "winsupport/system_text.h"

namespace vexel {
namespace {

TEST(MapOsErrorWin32, AnOsErrorIsItsOwnResultCode) {
  for (int error : {2, 5, 21, 87, 109, 995, 1167}) EXPECT_EQ(comm::MapOsError(error), error);
}

TEST(DescribeResultWin32, OwnCodesHaveOwnTextsOthersTheSystemsText) {
  EXPECT_EQ(DescribeResult(kResultOk), "Success");
  EXPECT_EQ(DescribeResult(kErrorInvalidHandle), "The port is not open");
  EXPECT_EQ(DescribeResult(kErrorAlreadyInitialized), "The port is already open");
  EXPECT_EQ(DescribeResult(kErrorTimeout), "The operation timed out");
  EXPECT_EQ(DescribeResult(kErrorInvalidArg), "Invalid argument");
  const std::string text = SystemErrorText(ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(DescribeResult(kErrorFileNotFound), text);
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(DescribeResult(0x7FFF0001), "Error 2147418113") << "a code the system has no text for";
}

}  // namespace
}  // namespace vexel

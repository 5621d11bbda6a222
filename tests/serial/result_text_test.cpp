// errno to result codes, and the texts front ends show for them.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "comm_api.h"
#include "serial/serial_port.h"

namespace vexel {
namespace {

TEST(MapOsError, GivesTheNearestResultCode) {
  struct Row {
    int osError;
    int32_t code;
  };
  const Row table[] = {
      {ENOENT, kErrorFileNotFound},
      {ENODEV, kErrorFileNotFound},
      {ENXIO, kErrorFileNotFound},
      {EACCES, kErrorAccessDenied},
      {EPERM, kErrorAccessDenied},
      {EBUSY, kErrorAccessDenied},
      {EWOULDBLOCK, kErrorAccessDenied},
      {ENOTTY, kErrorInvalidFunction},
      {EBADF, kErrorInvalidHandle},
      {EINVAL, kErrorInvalidParameter},
      {EIO, kErrorIoDevice},
      {EOPNOTSUPP, kErrorNotSupported},
      {ETIMEDOUT, kErrorTimeout},
      {EMFILE, kErrorTooManyOpenFiles},
      {EXDEV, kErrorGenFailure},  // nothing nearer
  };
  for (const Row& row : table) {
    EXPECT_EQ(comm::MapOsError(row.osError), row.code) << std::strerror(row.osError);
  }
}

TEST(DescribeResult, OwnCodesHaveOwnTextsAndMappedOnesTheOsText) {
  EXPECT_EQ(DescribeResult(kResultOk), "Success");
  EXPECT_EQ(DescribeResult(kErrorInvalidHandle), "The port is not open");
  EXPECT_EQ(DescribeResult(kErrorAlreadyInitialized), "The port is already open");
  EXPECT_EQ(DescribeResult(kErrorTimeout), "The operation timed out");
  EXPECT_EQ(DescribeResult(kErrorInvalidArg), "Invalid argument");
  EXPECT_EQ(DescribeResult(kErrorAccessDenied),
            "Access denied: the port is in use or not permitted");
  EXPECT_EQ(DescribeResult(kErrorFileNotFound), std::strerror(ENOENT));
  EXPECT_EQ(DescribeResult(kErrorTooManyOpenFiles), std::strerror(EMFILE));
  EXPECT_EQ(DescribeResult(4242), "Error 4242");
}

}  // namespace
}  // namespace vexel

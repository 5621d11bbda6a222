// Windows's reasons for a COM port that cannot be opened.
#include <windows.h>

#include <gtest/gtest.h>

#include "runner/open_diagnosis.h"
#include "serial/serial_port.h"

namespace vexel::cli {
namespace {

TEST(OpenDiagnosisWin32, UsualCausesSayWhatToDo) {
  EXPECT_EQ(DescribeOpenFailure("COM3", 0), "");
  EXPECT_EQ(DescribeOpenFailure("COM3", ERROR_ACCESS_DENIED),
            DescribeOsError(ERROR_ACCESS_DENIED) + "; the port is in use by another program");
  for (int error : {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND}) {
    EXPECT_EQ(DescribeOpenFailure("COM9", error),
              DescribeOsError(error) +
                  "; there is no such COM port here; --list-ports shows the serial ports");
  }
  EXPECT_EQ(DescribeOpenFailure("COM3", ERROR_GEN_FAILURE), DescribeOsError(ERROR_GEN_FAILURE));
}

// The system's texts, worded to go on in a sentence: no line end, no full
// stop, and a number for a code the system has no text for.
TEST(OpenDiagnosisWin32, OsErrorTextsReadAsPartOfASentence) {
  for (int error :
       {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_GEN_FAILURE, ERROR_SEM_TIMEOUT}) {
    const std::string text = DescribeOsError(error);
    ASSERT_FALSE(text.empty()) << error;
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
    EXPECT_NE(text.back(), '.') << text;
    EXPECT_NE(text.back(), ' ') << text;
  }
  EXPECT_EQ(DescribeOsError(0x7FFF0001), "Error 2147418113");
}

}  // namespace
}  // namespace vexel::cli

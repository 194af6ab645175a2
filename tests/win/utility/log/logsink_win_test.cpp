#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "code/utility/log/logsink.h"
#include "code/utility/log/sockerror.h"
#include "tests/unit/logcapture.h"

TEST(LogLastError, LogsThePrefixWithTheLastErrorAndItsText) {
  LogCapture log;
  const std::string sText = GetSocketErrorText(ERROR_ACCESS_DENIED);
  ASSERT_FALSE(sText.empty());
  SetLastError(ERROR_ACCESS_DENIED);
  QV_LOG_LAST_ERROR("HR::DoRequest", 3, "code/hlib/hlib", "%s lTimeout=%d, ", "Conn", 90000);
  ASSERT_EQ(log.entries().size(), 1u);
  EXPECT_EQ(log.entries()[0].sFunction, "HR::DoRequest");
  EXPECT_EQ(log.entries()[0].iSeverity, 3);
  EXPECT_EQ(log.entries()[0].sSource, "code/hlib/hlib");
  EXPECT_EQ(log.entries()[0].sMessage, "Conn lTimeout=90000, error code: 5, error: " + sText);
}

TEST(LogLastError, AGivenNumberGetsItsOwnText) {
  LogCapture log;
  SetLastError(ERROR_FILE_NOT_FOUND);  // not the one logged
  QV_LOG_ERROR_CODE("MyConfigure::ReadConfigure", 3, "code/utility/myconfigure", WSAECONNREFUSED,
                    "failed to WaitForSingleObject(CACHE_FILE_MUTEX) ");
  EXPECT_EQ(log.messages(), std::vector<std::string>{"failed to WaitForSingleObject(CACHE_FILE_MUTEX) error code: "
                                                      "10061, error: Connection refused."});
}

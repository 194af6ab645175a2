#include "code/utility/log/logsink.h"

#include <gtest/gtest.h>

#include "tests/unit/logcapture.h"

TEST(LogSink, FormatsAndForwardsWholeEntry) {
  LogCapture log;
  const char* sOutside = "100% done %s";
  QV_LOG("SetupHandler::Run", 3, "code/setuphandler/setuphandler", "value = %s, n = %d", sOutside, 7);
  ASSERT_EQ(log.entries().size(), 1u);
  EXPECT_EQ(log.entries()[0].sFunction, "SetupHandler::Run");
  EXPECT_EQ(log.entries()[0].iSeverity, 3);
  EXPECT_EQ(log.entries()[0].sSource, "code/setuphandler/setuphandler");
  EXPECT_EQ(log.entries()[0].sMessage, "value = 100% done %s, n = 7");
}

TEST(LogSink, NoWriterDropsSilently) {
  LogSink::Writer prev = LogSink::GetWriter();
  LogSink::SetWriter(nullptr);
  QV_LOG("f", 0, "s", "%s", "nothing");
  LogSink::SetWriter(prev);
}

TEST(LogSinkErrorMessage, PrefixThenCodeThenText) {
  const struct {
    const char* sPrefix;
    int iError;
    const char* sText;
    const char* sExpected;
  } cases[] = {
      {"HSR failed. ", 12029, "Cannot connect.\r\n", "HSR failed. error code: 12029, error: Cannot connect.\r\n"},
      {"", 0, "", "error code: 0, error: "},
      {"100% ", -1, "%s %d", "100% error code: -1, error: %s %d"},
      {"No keyword, ", 5, nullptr, "No keyword, error code: 5, error: "},
  };
  for (const auto& c : cases)
    EXPECT_EQ(LogSink::ErrorMessage(c.sPrefix, c.iError, c.sText), c.sExpected) << c.sPrefix;
}

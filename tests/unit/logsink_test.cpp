#include "code/utility/logsink.h"

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

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "code/hlib/hlib.h"
#include "code/hlib/hlib_internal_win.h"
#include "code/hlib/serveraccess.h"
#include "code/utility/text/encoding.h"
#include "tests/unit/logcapture.h"

TEST(HRAddCache, TwoObjectsOnTwoThreadsKeepEveryLine) {
  ServerAccess::Shared& shared = ServerAccess::GetShared();
  {
    std::lock_guard<std::mutex> lock(shared.mutex);
    shared.sText.clear();
    shared.bLoaded = true;  // nothing to load: no configuration cache in this process
  }
  const int kPerThread = 80;
  auto work = [](int iThread) {
    HLib oHLib;
    for (int i = 0; i < kPerThread; ++i) {
      const std::string sHost = "127.0." + std::to_string(10 + iThread) + "." + std::to_string(i);
      oHLib.AddCache(sHost.c_str(), 8889, false, 'D', "", "");
    }
  };
  std::thread a(work, 0), b(work, 1);
  a.join();
  b.join();
  std::vector<std::string> lines;
  {
    std::lock_guard<std::mutex> lock(shared.mutex);
    Utility::Split(shared.sText, "\n", lines);
    shared.sText.clear();
  }
  EXPECT_EQ(lines.size(), 2u * kPerThread);
  std::set<std::string> unique(lines.begin(), lines.end());
  EXPECT_EQ(unique.size(), lines.size());
  for (int t = 0; t < 2; ++t)
    for (int i = 0; i < kPerThread; ++i)
      EXPECT_EQ(unique.count("127.0." + std::to_string(10 + t) + "." + std::to_string(i) + "\t8889\tN\tD\t\t"), 1u);
}

TEST(HLibGuarded, AnEscapingExceptionIsAFailedStepWithTheLastError) {
  LogCapture log;
  EXPECT_TRUE(HLibInternal::Guarded("HLib::SetOptionR", 3, [] { return true; }));
  EXPECT_FALSE(HLibInternal::Guarded("HLib::SetOptionA", 0, [] { return false; }));
  EXPECT_TRUE(log.entries().empty());
  EXPECT_FALSE(HLibInternal::Guarded("HR::Detect", 0, []() -> bool { throw std::runtime_error("escaped"); }));
  ASSERT_EQ(log.entries().size(), 1u);
  EXPECT_EQ(log.entries()[0].sFunction, "HR::Detect");
  EXPECT_EQ(log.entries()[0].iSeverity, 0);
  EXPECT_EQ(log.entries()[0].sSource, "code/hlib/hlib");
  // The number is whatever the unwinding left as the last error.
  EXPECT_TRUE(std::regex_match(log.entries()[0].sMessage, std::regex("error code=-?[0-9]+")))
      << log.entries()[0].sMessage;
}

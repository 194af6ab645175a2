#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "code/hlib/hlib.h"
#include "code/hlib/serveraccess.h"
#include "code/utility/encoding.h"

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

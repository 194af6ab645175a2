#include "code/setuphandler/downloadmonitor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/unit/logcapture.h"

namespace {
// A download on a simulated clock: bytes arrive at a fixed rate from the
// start until the transfer stops (stalls) or completes.
struct FakeDownload : DownloadMonitor::Hooks {
  std::uint32_t now = 5000;
  std::uint32_t start = 5000;
  int bytesPerMs = 100;
  int size = 1000000;
  int stallAt = -1;  // received count where the transfer stops forever
  int held = 0;      // bytes a resumed attempt starts with
  std::vector<std::string> posts;

  int GetMilliseconds() override { return static_cast<int>(now); }
  void Sleep(int ms) override { now += static_cast<std::uint32_t>(ms); }
  std::int64_t WallSeconds() override { return 1700000000 + (now - start) / 1000; }
  int GetReceived() override {
    std::int64_t r = held + static_cast<std::int64_t>(now - start) * bytesPerMs;
    if (r > size) r = size;
    if (stallAt >= 0 && r > stallAt) r = stallAt;
    return static_cast<int>(r);
  }
  bool IsDone() override { return stallAt < 0 && GetReceived() == size; }
  void PostProgress(const std::string& s) override { posts.push_back(s); }
};
}  // namespace

TEST(DownloadMonitor, FirstFifteenSamplesShowNoFiguresThenEverySixteenth) {
  for (std::uint32_t startAt : {5000u, 0xFFFFFF00u}) {  // also across the wrap of the count
    SCOPED_TRACE(startAt);
    FakeDownload d;
    d.now = d.start = startAt;
    int tries = 0;
    const auto r = DownloadMonitor::Watch(d, d.size, 600, &tries);
    EXPECT_EQ(r.outcome, DownloadMonitor::Outcome::kFinished);
    EXPECT_EQ(tries, 0);
    // 100 bytes per ms: done at 10000 ms, the last sample at 9960 ms.
    ASSERT_EQ(d.posts.size(), 166u);
    for (int i = 0; i < 15; ++i) EXPECT_EQ(d.posts[i], std::to_string((i + 1) * 6 / 10) + ",0,0") << i;
    // Sample 16 at 960 ms: 96000 bytes, 100 bytes/ms = 800 kbit/s, (904000/1000)/100 s left.
    EXPECT_EQ(d.posts[15], "9,800,9");
    EXPECT_EQ(d.posts[16], "10,800,9");  // figures stay until the next computation
    EXPECT_EQ(d.posts[31], "19,800,8");  // sample 32 at 1920 ms
    EXPECT_EQ(d.posts.back(), "99,800,0");
    EXPECT_EQ(r.iElapsedMs, 10020);
  }
}

TEST(DownloadMonitor, AResumedAttemptGoesOnFromItsBytesAndCountsOnlyItsOwnSpeed) {
  FakeDownload d;
  d.held = 600000;
  int tries = 0;
  const auto r = DownloadMonitor::Watch(d, d.size, 600, &tries, d.held);
  EXPECT_EQ(r.outcome, DownloadMonitor::Outcome::kFinished);
  EXPECT_EQ(d.posts.front(), "60,0,0");
  // Sample 16 at 960 ms: 696000 bytes; 96000 of them new: 800 kbit/s, (304000/1000)/100 s left.
  EXPECT_EQ(d.posts[15], "69,800,3");
  EXPECT_EQ(d.posts.back(), "99,800,0");
  EXPECT_EQ(d.posts.size(), 66u);  // 400000 bytes at 100 per ms
}

TEST(DownloadMonitor, DoneWithinTheFirstSampleSkipsTheProgress) {
  FakeDownload d;
  d.size = 3000;  // done after 30 ms
  int tries = 0;
  const auto r = DownloadMonitor::Watch(d, d.size, 600, &tries);
  EXPECT_EQ(r.outcome, DownloadMonitor::Outcome::kFinished);
  EXPECT_TRUE(d.posts.empty());
  EXPECT_EQ(r.iElapsedMs, 60);
}

TEST(DownloadMonitor, StalledTransferTimesOutAndTheThousandthEnds) {
  struct Case {
    int timeout;
    int triesBefore;
    DownloadMonitor::Outcome outcome;
    const char* line;
    int elapsed;       // the first sample after more than `timeout` calendar seconds
    const char* last;  // stalled: no speed; remaining stays from the last non-zero average
  } cases[] = {
      {600, 0, DownloadMonitor::Outcome::kTimedOut, "Download experiences timeout", 601020, "25,0,750"},
      {5, 998, DownloadMonitor::Outcome::kTimedOut, "Download experiences timeout", 6000, "25,0,17"},
      {5, 999, DownloadMonitor::Outcome::kExhausted,
       "Download has exchaused manay failed tries: iNumberOfTry = 1000. Now exits", 6000, "25,0,17"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.triesBefore);
    FakeDownload d;
    d.stallAt = 250000;
    int tries = c.triesBefore;
    LogCapture log;
    const auto r = DownloadMonitor::Watch(d, d.size, c.timeout, &tries);
    EXPECT_EQ(r.outcome, c.outcome);
    EXPECT_EQ(tries, c.triesBefore + 1);
    EXPECT_EQ(log.messages(), std::vector<std::string>{c.line});
    EXPECT_EQ(r.iElapsedMs, c.elapsed);
    EXPECT_EQ(d.posts.back(), c.last);
  }
}

TEST(DownloadMonitor, Arithmetic) {
  EXPECT_EQ(DownloadMonitor::Percent(1, 3), 33);
  EXPECT_EQ(DownloadMonitor::Percent(67108864, 67108864), 100);
  EXPECT_EQ(DownloadMonitor::Percent(67108863, 67108864), 99);
  EXPECT_EQ(DownloadMonitor::Percent(5, 0), 0);
  EXPECT_EQ(DownloadMonitor::AverageKbps(1000000, 1000), 8000);
  EXPECT_EQ(DownloadMonitor::AverageKbps(2000000000, 1000), 16000000);  // no 32-bit overflow
  EXPECT_EQ(DownloadMonitor::AverageKbps(100, 0), 800);
  EXPECT_EQ(DownloadMonitor::SummaryText("Quorumvessel", 8000, 10),
            "Setup Quorumvessel ...\n\nSummary - average speed: 8000 kbps, total time: 10 seconds");
}

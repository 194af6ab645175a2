#include "code/hlib/readpace.h"

#include <gtest/gtest.h>

#include <vector>

// Each step: what has arrived, what is left, then how the read went.
struct PaceStep {
  int iAvailable, iRemaining;
  int iExpectedAsk;
  int iGot, iMs;
};

TEST(ReadPace, GrowsOnQuickFullReadsAndShrinksOnSlowOnes) {
  const int k = ReadPace::kSmallest;
  const std::vector<PaceStep> steps = {
      {0, 1 << 30, k, k, 1},                 // quick and full: double
      {0, 1 << 30, 2 * k, 2 * k, 0},         // again
      {0, 1 << 30, 4 * k, 4 * k, 19},        // again (just quick)
      {0, 1 << 30, 8 * k, 8 * k, 20},        // not quick: stays
      {0, 1 << 30, 8 * k, 8 * k, 100},       // not slow either: stays
      {0, 1 << 30, 8 * k, 8 * k, 101},       // slow: half
      {0, 1 << 30, 4 * k, 100, 2},           // short read: stays
      {200000, 1 << 30, 200000, 200000, 1},  // what has arrived wins; it came at once: double
      {0, 1 << 30, 8 * k, 8 * k, 5},         // double
      {0, 1 << 30, 16 * k, 16 * k, 5},       // double, up to the largest
      {0, 1 << 30, 262144, 262144, 5},       // stays at the largest
      {500000, 1 << 30, 262144, 262144, 5},  // never more than the largest
      {0, 1000, 1000, 1000, 1},              // the remainder only, and it says nothing of the pace
      {0, 1 << 30, 262144, 0, 5000},         // slow (a stalled link): half, down to the smallest
      {0, 1 << 30, 131072, 0, 5000},
      {0, 1 << 30, 65536, 0, 5000},
      {0, 1 << 30, 32768, 0, 5000},
      {0, 1 << 30, 16384, 0, 5000},
      {0, 1 << 30, k, 0, 5000},
      {0, 1 << 30, k, k, -5},                // a clock that went back counts as quick
      {0, 1 << 30, 2 * k, 0, 0},
  };
  ReadPace pace(262144);
  int i = 0;
  for (const PaceStep& s : steps) {
    const int iAsk = pace.Next(s.iAvailable, s.iRemaining);
    EXPECT_EQ(iAsk, s.iExpectedAsk) << "step " << i;
    pace.Took(iAsk, s.iGot, s.iMs);
    ++i;
  }
}

TEST(ReadPace, ALargestBelowTheSmallestIsBoth) {
  ReadPace pace(4096);
  EXPECT_EQ(pace.Next(0, 1 << 20), 4096);
  pace.Took(4096, 4096, 0);
  EXPECT_EQ(pace.Next(100000, 1 << 20), 4096);
  pace.Took(4096, 4096, 1000);
  EXPECT_EQ(pace.Next(0, 1 << 20), 4096);
  EXPECT_EQ(pace.Next(0, 0), 0);
}

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "code/setuphandler/setupinterface.h"

namespace {

TEST(ParseProgressText, ReadsThreeIntegersAndZeroForNonNumbers) {
  struct Case {
    const char* sText;
    int iPercent, iSpeed, iSeconds;
  };
  const Case kCases[] = {
      {"37,512,90", 37, 512, 90}, {"100,0,0", 100, 0, 0},     {"abc,def,ghi", 0, 0, 0},
      {"12abc,7x,", 12, 7, 0},    {"", 0, 0, 0},              {"55", 55, 0, 0},
      {"1,2,3,4", 1, 2, 3},       {" 4, 5 ,6", 4, 5, 6},      {"99999999999,-2147483649,1", 2147483647, -2147483647 - 1, 1},
  };
  for (const Case& c : kCases) {
    int iPercent = -9, iSpeed = -9, iSeconds = -9;
    SetupMessage::ParseProgressText(c.sText, iPercent, iSpeed, iSeconds);
    EXPECT_EQ(iPercent, c.iPercent) << c.sText;
    EXPECT_EQ(iSpeed, c.iSpeed) << c.sText;
    EXPECT_EQ(iSeconds, c.iSeconds) << c.sText;
  }
}

TEST(TextBlock, HoldsAtMost511BytesCutAtACharacterBoundary) {
  const long iBefore = SetupMessage::LiveTextBlocks();
  struct Case {
    std::string sText, sStored;
  };
  const std::string s510(510, 'a');
  const Case kCases[] = {
      {"Connecting ...", "Connecting ..."},
      {std::string(511, 'x'), std::string(511, 'x')},
      {std::string(600, 'x'), std::string(511, 'x')},
      {s510 + "\xC3\xBC", s510},  // the two-byte letter would not fit whole
      {std::string("a\0b", 3), "a"},
  };
  for (const Case& c : kCases) {
    char* pBlock = SetupMessage::NewTextBlock(c.sText);
    const auto w = reinterpret_cast<std::uintptr_t>(pBlock);
    EXPECT_EQ(SetupMessage::ReadTextBlock(w), c.sStored);
    EXPECT_EQ(pBlock[511], '\0');
    SetupMessage::FreeTextBlock(w);
  }
  EXPECT_EQ(SetupMessage::LiveTextBlocks(), iBefore);
}

TEST(SetupInterfacePostToDialog, BaseVersionReleasesTextBlocks) {
  const long iBefore = SetupMessage::LiveTextBlocks();
  SetupInterface none;
  for (unsigned int u = 6039; u <= 6042; ++u) none.PostText(u, "text");
  none.PostToDialog(6043, 0, 0);
  EXPECT_EQ(SetupMessage::LiveTextBlocks(), iBefore);
  EXPECT_FALSE(SetupMessage::CarriesText(6038));
  EXPECT_FALSE(SetupMessage::CarriesText(6043));
  EXPECT_TRUE(SetupMessage::CarriesText(6041));
}

}  // namespace

namespace {

TEST(TakeTextBlock, OnlyLiveBlocksOfThisProcessAreReadAndFreed) {
  const long iBefore = SetupMessage::LiveTextBlocks();
  // Numbers any other program could post in wParam: a readable address
  // that is no block, zero, a wild value, and a block already freed.
  char* pLive = SetupMessage::NewTextBlock("37,512,90");
  const auto wLive = reinterpret_cast<std::uintptr_t>(pLive);
  char aForeign[SetupMessage::kTextBlockSize] = "77,1,2";
  char* pFreed = SetupMessage::NewTextBlock("gone");
  SetupMessage::FreeTextBlock(reinterpret_cast<std::uintptr_t>(pFreed));
  const std::uintptr_t kForeign[] = {reinterpret_cast<std::uintptr_t>(aForeign), 0, 0x12345678u,
                                     reinterpret_cast<std::uintptr_t>(pFreed)};
  for (std::uintptr_t w : kForeign) {
    SCOPED_TRACE(w);
    std::string sText = "unchanged";
    EXPECT_FALSE(SetupMessage::TakeTextBlock(w, &sText));
    EXPECT_EQ(sText, "unchanged");
    EXPECT_EQ(SetupMessage::ReadTextBlock(w), "");
    SetupMessage::FreeTextBlock(w);  // ignored, not freed
    EXPECT_EQ(SetupMessage::LiveTextBlocks(), iBefore + 1);
  }
  EXPECT_STREQ(aForeign, "77,1,2");
  EXPECT_EQ(SetupMessage::ReadTextBlock(wLive), "37,512,90");
  std::string sText;
  EXPECT_TRUE(SetupMessage::TakeTextBlock(wLive, &sText));
  EXPECT_EQ(sText, "37,512,90");
  // Taken once only: a second message with the same number is ignored.
  EXPECT_FALSE(SetupMessage::TakeTextBlock(wLive, &sText));
  EXPECT_EQ(SetupMessage::LiveTextBlocks(), iBefore);
}

TEST(TakeTextBlock, EachBlockIsTakenByExactlyOneOfManyThreads) {
  const long iBefore = SetupMessage::LiveTextBlocks();
  constexpr int kBlocks = 200;
  constexpr int kThreads = 4;
  std::vector<std::uintptr_t> aBlocks;
  for (int i = 0; i < kBlocks; ++i)
    aBlocks.push_back(reinterpret_cast<std::uintptr_t>(SetupMessage::NewTextBlock(std::to_string(i))));
  std::atomic<int> aTaken[kBlocks] = {};
  std::vector<std::thread> aThreads;
  for (int t = 0; t < kThreads; ++t) {
    aThreads.emplace_back([&] {
      for (int i = 0; i < kBlocks; ++i) {
        std::string sText;
        if (SetupMessage::TakeTextBlock(aBlocks[i], &sText) && sText == std::to_string(i)) ++aTaken[i];
      }
    });
  }
  for (std::thread& t : aThreads) t.join();
  for (int i = 0; i < kBlocks; ++i) EXPECT_EQ(aTaken[i].load(), 1) << i;
  EXPECT_EQ(SetupMessage::LiveTextBlocks(), iBefore);
}

}  // namespace

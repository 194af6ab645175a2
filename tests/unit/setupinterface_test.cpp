#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "code/utility/setupinterface.h"

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

#include <gtest/gtest.h>

#include <string>

#include "code/setuphandler/setupstate.h"
#include "code/utility/text/boundedtext.h"

TEST(SetupState, InitialValues) {
  SetupState o;
  EXPECT_EQ(o.m_iAccountServerPort, 8889);
  EXPECT_STREQ(o.m_sClientName, "Quorumvessel");
  EXPECT_STREQ(o.m_sSetting, "");
  EXPECT_STREQ(o.m_sCommandLine, "");
  EXPECT_FALSE(o.m_bCalledByCommandLine);
  EXPECT_FALSE(o.m_bClientFilesAvailable);
  EXPECT_EQ(o.m_pSetupInterface, nullptr);
}

TEST(HasRole, OnlyTheStartTagCounts) {
  EXPECT_TRUE(SetupState::HasRole("<__Role__></__Role__>"));
  EXPECT_TRUE(SetupState::HasRole("x<__Role__>"));
  EXPECT_FALSE(SetupState::HasRole("<__role__>host</__role__>"));
  EXPECT_FALSE(SetupState::HasRole("</__Role__>"));
  EXPECT_FALSE(SetupState::HasRole(""));
  EXPECT_FALSE(SetupState::HasRole(nullptr));
}

TEST(VersionWord, FirstWordRule) {
  struct Case {
    std::string sContent;
    std::string sWord;
  } aCases[] = {
      {"5.2.1\nmore text", "5.2.1"},
      {"5.2.1\r\n", "5.2.1"},
      {"  \t\r\n 5.2.1 beta", "5.2.1"},
      {"5.2.1\tx", "5.2.1"},
      {"", ""},
      {"   \n", ""},
      {"5.2.10", "5.2.10"},
  };
  for (const auto& c : aCases) EXPECT_EQ(SetupState::VersionWord(c.sContent), c.sWord) << c.sContent;
}

TEST(VersionWord, LongWordIsCutToAValueBuffer) {
  const std::string sLong(2000, '7');
  EXPECT_EQ(SetupState::VersionWord(sLong), std::string(511, '7'));
}

TEST(CopyIfFits, RefusesWithoutTouchingTheTarget) {
  char s[4] = "old";
  EXPECT_FALSE(Utility::CopyIfFits(s, sizeof(s), "four"));
  EXPECT_STREQ(s, "old");
  EXPECT_TRUE(Utility::CopyIfFits(s, sizeof(s), std::string("abc")));
  EXPECT_STREQ(s, "abc");
  EXPECT_FALSE(Utility::CopyCut(s, sizeof(s), "wxyz"));
  EXPECT_STREQ(s, "wxy");
}

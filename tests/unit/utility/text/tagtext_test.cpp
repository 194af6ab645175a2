#include "code/utility/text/tagtext.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct ExtractCase {
  const char* sName;
  const char* sText;
  const char* sStartTag;
  const char* sEndTag;
  bool bFound;
  const char* sValue;
};

const ExtractCase kExtractCases[] = {
    {"plain value", "<__Role__>host</__Role__>", "<__Role__>", "</__Role__>", true, "host"},
    {"empty value", "<__Role__></__Role__>", "<__Role__>", "</__Role__>", true, ""},
    {"no end tag", "<__Role__>host", "<__Role__>", "</__Role__>", false, ""},
    {"absent", "<__A__>1</__A__>", "<__Role__>", "</__Role__>", false, ""},
    {"first of two", "<__Role__>a</__Role__><__Role__>b</__Role__>", "<__Role__>", "</__Role__>", true, "a"},
    {"stray end tag before", "</__Role__>x<__Role__>y</__Role__>", "<__Role__>", "</__Role__>", true, "y"},
    {"inside another value", "<__A__><__B__>2</__B__></__A__>", "<__B__>", "</__B__>", true, "2"},
    {"case-sensitive names", "<__role__>host</__role__>", "<__Role__>", "</__Role__>", false, ""},
    {"line breaks kept", "x\n<__A__>1\r\n2</__A__>\n", "<__A__>", "</__A__>", true, "1\r\n2"},
    {"end tag overlapping start tag", "<__A__>>1", "<__A__>", "__A__>>", false, ""},
};

TEST(TagTextExtract, Cases) {
  for (const auto& c : kExtractCases) {
    char sOut[64];
    std::memset(sOut, 'z', sizeof(sOut));
    EXPECT_EQ(c.bFound, TagText::Extract(c.sText, c.sStartTag, c.sEndTag, sOut)) << c.sName;
    EXPECT_STREQ(c.sValue, sOut) << c.sName;

    std::string sGrown = "old";
    EXPECT_EQ(c.bFound, TagText::Extract(c.sText, c.sStartTag, c.sEndTag, sGrown)) << c.sName;
    EXPECT_EQ(c.sValue, sGrown) << c.sName;
  }
}

TEST(TagTextExtract, OverlongValueRefusedAndNothingWrittenPastTheBuffer) {
  const char* sText = "<__A__>12345</__A__>";
  // Room for the value and its terminator: accepted.
  char sExact[6];
  EXPECT_TRUE(TagText::Extract(sText, "<__A__>", "</__A__>", sExact, sizeof(sExact)));
  EXPECT_STREQ("12345", sExact);
  // One byte short: refused, left empty, the guard bytes after it untouched.
  char sBuffer[8];
  std::memset(sBuffer, '#', sizeof(sBuffer));
  EXPECT_FALSE(TagText::Extract(sText, "<__A__>", "</__A__>", sBuffer, 5));
  EXPECT_EQ('\0', sBuffer[0]);
  EXPECT_EQ(std::string(3, '#'), std::string(sBuffer + 5, 3));
}

TEST(TagTextExtract, MissingArgumentsGiveFalseAndEmptyOutput) {
  char sOut[8] = "value";
  EXPECT_FALSE(TagText::Extract(nullptr, "<__A__>", "</__A__>", sOut));
  EXPECT_STREQ("", sOut);
  std::memcpy(sOut, "value", 6);
  EXPECT_FALSE(TagText::Extract("<__A__>1</__A__>", nullptr, "</__A__>", sOut));
  EXPECT_STREQ("", sOut);
  EXPECT_FALSE(TagText::Extract("<__A__>1</__A__>", "<__A__>", "</__A__>", nullptr, 0));
}

struct ReplaceCase {
  const char* sName;
  const char* sText;
  const char* sValue;
  const char* sStartTag;
  const char* sEndTag;
  bool bReplaced;
  const char* sResult;  // nullptr: output untouched
};

const ReplaceCase kReplaceCases[] = {
    {"first element", "<__A__>1</__A__><__B__>2</__B__>", "7", "<__A__>", "</__A__>", true,
     "<__A__>7</__A__><__B__>2</__B__>"},
    {"later element, text around kept", "x<__A__>1</__A__>\n<__B__>2</__B__>\n", "", "<__B__>", "</__B__>",
     true, "x<__A__>1</__A__>\n<__B__></__B__>\n"},
    {"first of two", "<__A__>1</__A__><__A__>2</__A__>", "9", "<__A__>", "</__A__>", true,
     "<__A__>9</__A__><__A__>2</__A__>"},
    {"longer value", "<__A__></__A__>", "a longer value", "<__A__>", "</__A__>", true,
     "<__A__>a longer value</__A__>"},
    {"start tag absent", "<__A__>1</__A__>", "7", "<__B__>", "</__B__>", false, nullptr},
    {"end tag absent", "<__B__>1", "7", "<__B__>", "</__B__>", false, nullptr},
    {"stray end tag first", "</__Role__>x<__Role__>y</__Role__>", "z", "<__Role__>", "</__Role__>", false,
     nullptr},
};

TEST(TagTextReplace, Cases) {
  for (const auto& c : kReplaceCases) {
    char sOut[128] = "untouched";
    EXPECT_EQ(c.bReplaced, TagText::Replace(c.sText, c.sValue, c.sStartTag, c.sEndTag, sOut)) << c.sName;
    EXPECT_STREQ(c.sResult ? c.sResult : "untouched", sOut) << c.sName;

    std::string sGrown = "untouched";
    EXPECT_EQ(c.bReplaced, TagText::Replace(c.sText, c.sValue, c.sStartTag, c.sEndTag, sGrown)) << c.sName;
    EXPECT_EQ(c.sResult ? c.sResult : "untouched", sGrown) << c.sName;
  }
}

TEST(TagTextReplace, OverlongResultRefusedAndOutputUntouched) {
  const char* sText = "<__A__>1</__A__>";
  const std::string sExpected = "<__A__>123</__A__>";
  std::vector<char> exact(sExpected.size() + 1);
  EXPECT_TRUE(TagText::Replace(sText, "123", "<__A__>", "</__A__>", exact.data(), exact.size()));
  EXPECT_EQ(sExpected, exact.data());

  char sBuffer[32];
  std::memset(sBuffer, '#', sizeof(sBuffer));
  std::memcpy(sBuffer, "before", 7);
  EXPECT_FALSE(TagText::Replace(sText, "123", "<__A__>", "</__A__>", sBuffer, sExpected.size()));
  EXPECT_STREQ("before", sBuffer);
  EXPECT_EQ(std::string(sizeof(sBuffer) - 7, '#'), std::string(sBuffer + 7, sizeof(sBuffer) - 7));
}

TEST(TagTextReplace, MissingArgumentCopiesTheTextWhenItFits) {
  char sOut[32] = "untouched";
  EXPECT_FALSE(TagText::Replace("<__A__>1</__A__>", nullptr, "<__A__>", "</__A__>", sOut));
  EXPECT_STREQ("<__A__>1</__A__>", sOut);
  char sSmall[4] = "abc";
  EXPECT_FALSE(TagText::Replace("<__A__>1</__A__>", "2", nullptr, "</__A__>", sSmall));
  EXPECT_STREQ("", sSmall);
}

}  // namespace

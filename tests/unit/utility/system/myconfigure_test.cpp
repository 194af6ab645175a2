#include "code/utility/system/myconfigure.h"

#include <gtest/gtest.h>

TEST(MyConfigureRewriteText, ReplacesAndDropsTextAfterTheEndMarker) {
  const char* sStart = "<__SERVER_ACCESS_SETTING1__>";
  const char* sEnd = "</__SERVER_ACCESS_SETTING1__>";
  struct Case {
    const char* sOld;
    const char* sValue;
    bool bOk;
    const char* sNew;
  } cases[] = {
      {"<__CACHE__>\n<__SERVER_ACCESS_SETTING1__>old</__SERVER_ACCESS_SETTING1__>\n</__CACHE__>junk\n</__CACHE__>x",
       "h\t80\tN\tD\t\t", true,
       "<__CACHE__>\n<__SERVER_ACCESS_SETTING1__>h\t80\tN\tD\t\t</__SERVER_ACCESS_SETTING1__>\n</__CACHE__>"},
      {"<__SERVER_ACCESS_SETTING1__></__SERVER_ACCESS_SETTING1__>tail without marker", "v", true,
       "<__SERVER_ACCESS_SETTING1__>v</__SERVER_ACCESS_SETTING1__>tail without marker"},
      {"<__CACHE__>\n<__Other__>1</__Other__>\n</__CACHE__>", "v", false, ""},  // element missing
      {"", "v", false, ""},
  };
  for (const Case& c : cases) {
    std::string sNew = "unchanged";
    EXPECT_EQ(MyConfigure::RewriteText(c.sOld, sStart, sEnd, c.sValue, sNew), c.bOk) << c.sOld;
    EXPECT_EQ(sNew, c.sNew) << c.sOld;
  }
  std::string sNew;
  EXPECT_FALSE(MyConfigure::RewriteText("<__SERVER_ACCESS_SETTING1__>a</__SERVER_ACCESS_SETTING1__>", sStart, sEnd,
                                        nullptr, sNew));
}

TEST(MyConfigureDefaultContent, HoldsTheStoreElementAndEndsWithTheMarker) {
  const std::string s = MyConfigure::DefaultContent();
  EXPECT_NE(s.find("<__SERVER_ACCESS_SETTING1__></__SERVER_ACCESS_SETTING1__>"), std::string::npos);
  EXPECT_EQ(s.substr(s.size() - 12), "</__CACHE__>");
}

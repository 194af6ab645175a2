#include <gtest/gtest.h>

#include <string>

#include "code/utility/system/userdirs.h"

TEST(ApplicationFolderName, EmptyAndLoomgatherUseQuorumvessel) {
  struct Case {
    const char* sClient;
    const char* sExpected;
  } aCases[] = {
      {"", "Quorumvessel"},           {"Loomgather", "Quorumvessel"}, {"loomgather", "loomgather"},
      {"Saltmarsh", "Saltmarsh"},     {"Acme", "Acme"},
  };
  for (const auto& c : aCases) EXPECT_EQ(Utility::ApplicationFolderName(c.sClient), c.sExpected) << c.sClient;
}

TEST(SystemUserDirectorySuffix, FolderAboveTheInstallation) {
  struct Case {
    const char* sCurrentDirectory;
    const char* sAppFolder;
    const char* sSuffix;
  } aCases[] = {
      {"C:\\Users\\Public\\Quorumvessel\\Quorumvessel", "Quorumvessel", "\\..\\.."},
      {"C:\\Program Files\\Quorumvessel", "Quorumvessel", "\\.."},
      {"C:\\Tools", "Quorumvessel", ""},
      {"C:\\data\\Acme\\Quorumvessel\\bin", "Acme", "\\..\\.."},
      {"C:\\data\\Acme\\other", "Acme", "\\.."},
      // the tests are case-sensitive
      {"C:\\data\\acme\\quorumvessel", "Acme", ""},
      {"C:\\data\\ACME\\Quorumvessel", "Acme", ""},
  };
  for (const auto& c : aCases)
    EXPECT_EQ(Utility::SystemUserDirectorySuffix(c.sCurrentDirectory, c.sAppFolder), c.sSuffix) << c.sCurrentDirectory;
}

TEST(IsSystemUserName, AnyLetterCase) {
  EXPECT_TRUE(Utility::IsSystemUserName("SYSTEM"));
  EXPECT_TRUE(Utility::IsSystemUserName("system"));
  EXPECT_TRUE(Utility::IsSystemUserName("SyStEm"));
  EXPECT_FALSE(Utility::IsSystemUserName("systems"));
  EXPECT_FALSE(Utility::IsSystemUserName(""));
}

TEST(ToUpperASCII, OnlyFirstCountLettersAndNothingWhenShorter) {
  char s[] = "abc-d\xC3\xA9z";
  Utility::ToUpperASCII(s, 4);
  EXPECT_STREQ(s, "ABC-d\xC3\xA9z");
  char t[] = "ab";
  Utility::ToUpperASCII(t, 3);
  EXPECT_STREQ(t, "ab");
  Utility::ToUpperASCII(nullptr, 1);
}

TEST(CutAtLastBackslash, ParentOfCommonDocuments) {
  std::string sParent = "unchanged";
  EXPECT_TRUE(Utility::CutAtLastBackslash("C:\\users\\Public\\Documents", sParent));
  EXPECT_EQ(sParent, "C:\\users\\Public");
  sParent = "unchanged";
  EXPECT_FALSE(Utility::CutAtLastBackslash("Documents", sParent));
  EXPECT_EQ(sParent, "unchanged");
  EXPECT_EQ(Utility::RemoveTrailingBackslash("C:\\Temp\\"), "C:\\Temp");
  EXPECT_EQ(Utility::RemoveTrailingBackslash("C:\\Temp"), "C:\\Temp");
  EXPECT_EQ(Utility::RemoveTrailingBackslash("C:\\Temp\\\\"), "C:\\Temp\\");
}

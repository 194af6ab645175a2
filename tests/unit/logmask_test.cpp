#include <gtest/gtest.h>

#include <string>

#include "code/utility/logmask.h"

TEST(LogMaskSetting, PasswordValuesHidden) {
  struct Case {
    std::string sIn;
    std::string sOut;
  } aCases[] = {
      {"<__MeetingPassword__>s3cret</__MeetingPassword__><__Role__>host</__Role__>",
       "<__MeetingPassword__>********</__MeetingPassword__><__Role__>host</__Role__>"},
      {"<__UserPassword__></__UserPassword__>", "<__UserPassword__>********</__UserPassword__>"},
      {"<__UserPassword__>a</__UserPassword__>x<__UserPassword__>b</__UserPassword__>",
       "<__UserPassword__>********</__UserPassword__>x<__UserPassword__>********</__UserPassword__>"},
      {"<__MeetingPassword__>no end tag", "<__MeetingPassword__>********"},
      {"<__Role__>host</__Role__>", "<__Role__>host</__Role__>"},
  };
  for (const auto& c : aCases) EXPECT_EQ(LogMask::Setting(c.sIn), c.sOut) << c.sIn;
}

TEST(LogMaskCommandLine, SpValueBecomesItsLength) {
  struct Case {
    std::string sIn;
    std::string sOut;
  } aCases[] = {
      {"Quorumvessel:sp=abcd%2B&chk=xyz", "Quorumvessel:sp=7&chk=xyz"},
      {"Quorumvessel:chk=xyz&sp=abc", "Quorumvessel:chk=xyz&sp=3"},
      {"Quorumvessel:sp=a&sp=bcd", "Quorumvessel:sp=1&sp=3"},
      {"Quorumvessel:s%70=abcd&chk=1", "Quorumvessel:s%70=4&chk=1"},
      {"Quorumvessel:xsp=abc&spx=abc", "Quorumvessel:xsp=abc&spx=abc"},
      {"\"C:\\q v\\QVInstaller.exe\" Quorumvessel:sp=ab cd", "\"C:\\q v\\QVInstaller.exe\" Quorumvessel:sp=5"},
      {"--called_by_client_to_sync", "--called_by_client_to_sync"},
      {"", ""},
  };
  for (const auto& c : aCases) EXPECT_EQ(LogMask::CommandLine(c.sIn), c.sOut) << c.sIn;
}

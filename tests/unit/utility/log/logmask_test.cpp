#include <gtest/gtest.h>

#include <string>

#include "code/utility/log/logmask.h"

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

TEST(LogMaskCommandLine, SpAndChkValuesBecomeTheirLength) {
  struct Case {
    std::string sIn;
    std::string sOut;
  } aCases[] = {
      {"Quorumvessel:sp=abcd%2B&chk=xyz", "Quorumvessel:sp=7&chk=3"},
      {"Quorumvessel:chk=xyz%3D&sp=abc", "Quorumvessel:chk=6&sp=3"},
      {"Quorumvessel:sp=a&sp=bcd&chk=&chk=12", "Quorumvessel:sp=1&sp=3&chk=0&chk=2"},
      {"Quorumvessel:s%70=abcd&%63hk=xyz", "Quorumvessel:s%70=4&%63hk=3"},
      {"Quorumvessel:xsp=abc&spx=abc&xchk=abc&chkx=abc", "Quorumvessel:xsp=abc&spx=abc&xchk=abc&chkx=abc"},
      {"\"C:\\q v\\QVInstaller.exe\" Quorumvessel:sp=ab cd", "\"C:\\q v\\QVInstaller.exe\" Quorumvessel:sp=5"},
      {"\"C:\\q v\\QVInstaller.exe\" Quorumvessel:chk=oYbY1OVsoJraXk53rdR6akD66Cs%3D",
       "\"C:\\q v\\QVInstaller.exe\" Quorumvessel:chk=30"},
      {"chk=abc&meeting_id=4", "chk=3&meeting_id=4"},
      {"--called_by_client_to_sync", "--called_by_client_to_sync"},
      {"", ""},
  };
  for (const auto& c : aCases) EXPECT_EQ(LogMask::CommandLine(c.sIn), c.sOut) << c.sIn;
}

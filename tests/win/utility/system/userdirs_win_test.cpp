#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>

#include "code/utility/system/userdirs.h"
#include "code/utility/text/textconv.h"
#include "tests/unit/logcapture.h"

namespace {
struct Dirs {
  char sCurrentDirectory[512] = {};
  char sCurrentFile[512] = {};
  char sUserApplicationDirectory[512] = {};
  char sTempDirectory[512] = {};
  char sStartMenuDirectory[512] = {};
  char sDesktopDirectory[512] = {};
  bool bUserAppDirAccessable = false;
  bool bSystemUser = true;
  char sDocumentsDirectory[512] = {};
  char sCommonDesktopDirectory[512] = {};

  void Get(const char* sClientName) {
    Utility::GetUserDirectory(sClientName, sCurrentDirectory, sCurrentFile, sUserApplicationDirectory,
                              sTempDirectory, sStartMenuDirectory, sDesktopDirectory, bUserAppDirAccessable,
                              bSystemUser, sDocumentsDirectory, sCommonDesktopDirectory);
  }
};

std::string ShellFolderOf(int iCsidl) {
  wchar_t s[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, iCsidl, nullptr, SHGFP_TYPE_CURRENT, s);
  return TextConv::WideToUtf8(s);
}
}  // namespace

TEST(GetUserDirectory, OrdinaryUser) {
  LogCapture log;
  Dirs o;
  o.Get("Acme");
  EXPECT_STREQ(o.sCurrentFile, "qvwin_tests.exe");
  EXPECT_EQ(std::string(o.sUserApplicationDirectory), ShellFolderOf(CSIDL_APPDATA));
  EXPECT_EQ(std::string(o.sStartMenuDirectory), ShellFolderOf(CSIDL_PROGRAMS) + "\\Acme");
  const std::string sTemp = o.sTempDirectory;
  ASSERT_FALSE(sTemp.empty());
  EXPECT_NE(sTemp.back(), '\\');
  EXPECT_TRUE(o.bUserAppDirAccessable);
  EXPECT_FALSE(o.bSystemUser);
  const auto aMessages = log.messages();
  ASSERT_GE(aMessages.size(), 8u);
  const std::vector<std::string> aTail(aMessages.end() - 8, aMessages.end());
  EXPECT_EQ(aTail, (std::vector<std::string>{
                       "sStartMenuDirectory = " + std::string(o.sStartMenuDirectory),
                       "sCurrentDirectory = " + std::string(o.sCurrentDirectory),
                       "sCurrentFile = qvwin_tests.exe",
                       "sUserApplicationDirectory = " + std::string(o.sUserApplicationDirectory),
                       "sTempDirectory = " + sTemp,
                       "sDesktopDirectory = " + std::string(o.sDesktopDirectory),
                       "bUserAppDirAccessable = true",
                       "bSystemUser = false",
                   }));
  EXPECT_EQ(log.entries().back().sFunction, "Utility::GetUserDirectory()");
  EXPECT_EQ(log.entries().back().sSource, "code/utility/utility");
}

TEST(GetUserDirectory, ApplicationFolderAndSaltmarsh) {
  Dirs oLoom;
  oLoom.Get("Loomgather");
  EXPECT_EQ(std::string(oLoom.sStartMenuDirectory), ShellFolderOf(CSIDL_PROGRAMS) + "\\Quorumvessel");
  Dirs oEmpty;
  oEmpty.Get("");
  EXPECT_EQ(std::string(oEmpty.sStartMenuDirectory), ShellFolderOf(CSIDL_PROGRAMS) + "\\Quorumvessel");

  ASSERT_TRUE(Utility::IsVistaOrLater());
  LogCapture log;
  Dirs oSalt;
  oSalt.Get("Saltmarsh");
  const std::string sCommonDocuments = ShellFolderOf(CSIDL_COMMON_DOCUMENTS);
  EXPECT_EQ(std::string(oSalt.sUserApplicationDirectory), sCommonDocuments.substr(0, sCommonDocuments.rfind('\\')));
  EXPECT_EQ(std::string(oSalt.sStartMenuDirectory), ShellFolderOf(CSIDL_COMMON_PROGRAMS) + "\\Saltmarsh");
  EXPECT_TRUE(log.Contains("from CSIDL_COMMON_DOCUMENTS, sUserApplicationDirectory = " +
                           std::string(oSalt.sUserApplicationDirectory)));
}

TEST(VersionTests, WindowsOfThePrefix) {
  EXPECT_TRUE(Utility::IsVistaOrLater());
  EXPECT_FALSE(Utility::IsWindowsXP());
  LogCapture log;
  // Wine's user holds the Administrators group enabled.
  EXPECT_TRUE(Utility::IsUserAdmin());
  EXPECT_TRUE(log.Contains("The group SID is enabled.\n"));
  EXPECT_FALSE(Utility::IsSystemUser());
}

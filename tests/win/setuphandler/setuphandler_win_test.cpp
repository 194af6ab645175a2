#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "code/setuphandler/setuphandler.h"
#include "code/setuphandler/setupinterface.h"
#include "code/utility/protect/queryprotection.h"
#include "code/utility/text/textconv.h"
#include "tests/unit/logcapture.h"
#include "tests/win/testdir_win.h"

namespace {
struct Post {
  unsigned int uMessage;
  std::uintptr_t wParam;
  std::intptr_t lParam;
};

class RecordingInterface : public SetupInterface {
 public:
  void PostToDialog(unsigned int uMessage, std::uintptr_t wParam, std::intptr_t lParam) override {
    aPosts.push_back({uMessage, wParam, lParam});
  }
  std::vector<Post> aPosts;
};

void Set(char (&sMember)[512], const std::string& sValue) {
  std::strncpy(sMember, sValue.c_str(), sizeof(sMember) - 1);
}

// Folder of this test program, as the handler's directories see it.
std::string ProgramFolder() {
  wchar_t sPath[MAX_PATH];
  GetModuleFileNameW(nullptr, sPath, MAX_PATH);
  std::wstring w = sPath;
  wchar_t sLong[MAX_PATH];
  if (GetLongPathNameW(w.c_str(), sLong, MAX_PATH)) w = sLong;
  return TextConv::WideToUtf8(w.substr(0, w.rfind(L'\\')));
}

bool HasFunction(const LogCapture& log, const std::string& sFunction) {
  for (const auto& e : log.entries())
    if (e.sFunction == sFunction) return true;
  return false;
}
}  // namespace

TEST(CheckIsVersionIsSynced, CandidatesAndWordRule) {
  struct Case {
    const char* sName;
    std::vector<std::pair<const char*, const char*>> aFiles;  // folder under the root, content
    const char* sVersion;
    bool bInstalled;
    bool bSynced;
    const char* sClientFolder;  // under the root, "" when none
  } aCases[] = {
      {"none", {}, "5.2.1", false, false, ""},
      {"user application folder", {{"app\\Acme\\Quorumvessel", "5.2.1\nmore text"}}, "5.2.1", true, true,
       "app\\Acme\\Quorumvessel"},
      {"temporary folder", {{"temp\\Acme\\Quorumvessel", "5.2.1"}}, "5.2.1", true, true, "temp\\Acme\\Quorumvessel"},
      {"starter folder with client name", {{"cur\\Acme\\Quorumvessel", "5.2.1"}}, "5.2.1", true, true,
       "cur\\Acme\\Quorumvessel"},
      {"starter folder", {{"cur\\Quorumvessel", "5.2.1"}}, "5.2.1", true, true, "cur\\Quorumvessel"},
      {"first opened wins", {{"app\\Acme\\Quorumvessel", "5.0"}, {"cur\\Acme\\Quorumvessel", "5.2.1"}}, "5.2.1",
       true, false, "app\\Acme\\Quorumvessel"},
      {"client-name folder before the plain one", {{"cur\\Quorumvessel", "5.2.1"}, {"cur\\Acme\\Quorumvessel", "4"}},
       "5.2.1", true, false, "cur\\Acme\\Quorumvessel"},
      {"prefix is not equal", {{"app\\Acme\\Quorumvessel", "5.2.1"}}, "5.2.10", true, false,
       "app\\Acme\\Quorumvessel"},
      {"settings version with a blank", {{"app\\Acme\\Quorumvessel", "5.2.1"}}, "5.2.1 ", true, false,
       "app\\Acme\\Quorumvessel"},
      {"leading white space and CR LF", {{"app\\Acme\\Quorumvessel", " \r\n\t5.2.1\r\n"}}, "5.2.1", true, true,
       "app\\Acme\\Quorumvessel"},
      {"empty file, empty version", {{"app\\Acme\\Quorumvessel", ""}}, "", true, true, "app\\Acme\\Quorumvessel"},
      {"empty file", {{"app\\Acme\\Quorumvessel", ""}}, "5.2.1", true, false, "app\\Acme\\Quorumvessel"},
  };
  for (const auto& c : aCases) {
    TestDir oRoot("version");
    const std::string sRoot = oRoot.Utf8();
    for (const auto& f : c.aFiles) oRoot.Write(std::string(f.first) + "\\version.txt", f.second);
    LogCapture log;
    SetupHandler o;
    Set(o.m_sUserApplicationDirectory, sRoot + "app");
    Set(o.m_sTempDirectory, sRoot + "temp");
    Set(o.m_sCurrentDirectory, sRoot + "cur");
    Set(o.m_sClientName, "Acme");
    Set(o.m_sVersion, c.sVersion);
    Set(o.m_sClientDirectory, "before");
    o.CheckIsVersionIsSynced();
    EXPECT_EQ(o.m_bIsClientInstalled, c.bInstalled) << c.sName;
    EXPECT_EQ(o.m_bIsVersionSynced, c.bSynced) << c.sName;
    const std::string sClientFolder = *c.sClientFolder ? sRoot + c.sClientFolder : "before";
    EXPECT_EQ(std::string(o.m_sClientDirectory), sClientFolder) << c.sName;
    const auto aMessages = log.messages();
    ASSERT_FALSE(aMessages.empty());
    EXPECT_EQ(aMessages[0], "sVersionFileName is " + sRoot + "app\\Acme\\Quorumvessel\\version.txt") << c.sName;
    if (!c.bInstalled) {
      ASSERT_EQ(aMessages.size(), 5u);
      EXPECT_EQ(aMessages[1], "sVersionFileName is " + sRoot + "temp\\Acme\\Quorumvessel\\version.txt");
      EXPECT_EQ(aMessages[2], "sVersionFileName is " + sRoot + "cur\\Acme\\Quorumvessel\\version.txt");
      EXPECT_EQ(aMessages[3], "sVersionFileName is " + sRoot + "cur\\Quorumvessel\\version.txt");
      EXPECT_EQ(aMessages[4], "Failed to find any QV installation");
    } else {
      EXPECT_EQ(aMessages.back().rfind("sExistingVersion is ", 0), 0u) << c.sName;
      EXPECT_NE(aMessages.back().find(", m_sClientDirectory = " + sClientFolder), std::string::npos) << c.sName;
    }
  }
}

TEST(CheckIsVersionIsSynced, LongWordIsCutToAValueBuffer) {
  TestDir oRoot("longversion");
  oRoot.Write("app\\Quorumvessel\\Quorumvessel\\version.txt", std::string(5000, '9'));
  SetupHandler o;
  Set(o.m_sUserApplicationDirectory, oRoot.Utf8() + "app");
  Set(o.m_sVersion, std::string(511, '9'));
  LogCapture log;
  o.CheckIsVersionIsSynced();
  EXPECT_TRUE(o.m_bIsClientInstalled);
  EXPECT_TRUE(o.m_bIsVersionSynced);  // the cut word: 511 nines, the same as the member can hold
}

TEST(Run, MissingParameterFilePosts6043) {
  for (const char* sFlag : {"--called_by_client_to_sync", "--called_by_downloader"}) {
    // Neither parameter file exists beside this program or in a fresh temp
    // folder name; remove a stray one in the temporary folder first.
    wchar_t sTemp[MAX_PATH];
    GetTempPathW(MAX_PATH, sTemp);
    DeleteFileW((std::wstring(sTemp) + L"rsp1024hcmd.txt").c_str());
    LogCapture log;
    RecordingInterface oWindow;
    SetupHandler o;
    o.m_pSetupInterface = &oWindow;
    std::strcpy(o.m_sCommandLine, sFlag);
    o.Run();
    ASSERT_EQ(oWindow.aPosts.size(), 1u) << sFlag;
    EXPECT_EQ(oWindow.aPosts[0].uMessage, 6043u);
    EXPECT_EQ(oWindow.aPosts[0].wParam, 0u);
    EXPECT_EQ(oWindow.aPosts[0].lParam, 0);
    EXPECT_TRUE(log.Contains("InitializeSetup() failed")) << sFlag;
    const std::string sExpectedFile =
        std::string(sFlag) == "--called_by_downloader"
            ? TextConv::WideToUtf8(sTemp) + "rsp1024hcmd.txt"
            : ProgramFolder() + "\\Quorumvessel\\rsp1024hcmd.txt";
    EXPECT_TRUE(log.Contains("failed to load " + sExpectedFile)) << sFlag;
    EXPECT_FALSE(HasFunction(log, "SetupHandler::CheckIsVersionIsSynced")) << sFlag;
    EXPECT_FALSE(HasFunction(log, "SetupHandler::Download")) << sFlag;
  }
}

TEST(InitializeSetup, DownloaderReadsTheTemporaryFolderAndRefines) {
  wchar_t sTemp[MAX_PATH];
  GetTempPathW(MAX_PATH, sTemp);
  const std::wstring wFile = std::wstring(sTemp) + L"rsp1024hcmd.txt";
  {
    FILE* f = _wfopen(wFile.c_str(), L"wb");
    ASSERT_NE(f, nullptr);
    fputs("<__SetupDirectory__></__SetupDirectory__>\n<__ClientName__>Acme</__ClientName__>"
          "<__Version__>9</__Version__><__AccountServerIP__>127.0.0.2</__AccountServerIP__>",
          f);
    fclose(f);
  }
  LogCapture log;
  SetupHandler o;
  std::strcpy(o.m_sCommandLine, "--called_by_downloader --called_by_client_to_sync");
  EXPECT_TRUE(o.InitializeSetup());
  DeleteFileW(wFile.c_str());
  std::wstring wFolder = sTemp;
  wFolder.pop_back();
  EXPECT_TRUE(log.Contains("Read from sCommandParameterFile " + TextConv::WideToUtf8(wFile)));
  EXPECT_TRUE(o.m_bCalledByClientToSyncVersion);
  EXPECT_STREQ(o.m_sClientName, "Acme");
  EXPECT_STREQ(o.m_sAccountServerName, "127.0.0.2");
  EXPECT_STREQ(o.m_sVersion, "");  // emptied after the intake built the version text from 9
  EXPECT_EQ(std::string(o.m_sClientDirectory), ProgramFolder() + "\\Quorumvessel");
  EXPECT_TRUE(o.m_bIsClientInstalled);
  EXPECT_FALSE(o.m_bIsVersionSynced);
  EXPECT_TRUE(log.Contains("Refine directory by " + ProgramFolder() + "\\Quorumvessel\\QVServiceCache.txt"));
  // No refinement file: the folders stay as the user directories gave them.
  EXPECT_NE(std::string(o.m_sUserApplicationDirectory), "");
  EXPECT_NE(std::string(o.m_sDesktopDirectory), "");
}

TEST(LoadSetupConfigure, SourcesBesideTheStarter) {
  const std::string sSettings = "<__Role__>host</__Role__><__Version__>5</__Version__>";
  const std::string sMasked = Utility::MaskText(sSettings, "M");
  struct Case {
    const char* sName;
    std::vector<std::pair<const char*, std::string>> aFiles;
    const char* sCommandLine;
    bool bResult;
    std::string sSetting;
    bool bClientFiles;
    std::vector<std::string> aLines;
  } aCases[] = {
      {"masked file", {{"starter.cfg", sMasked}}, "", true, sSettings, false, {"Loaded starter.cfg successfully"}},
      {"masked file and both package files",
       {{"starter.cfg", sMasked}, {"PCClient", "z"}, {"PCClientAccessory", "z"}}, "", true, sSettings, true,
       {"both client files are available", "Loaded starter.cfg successfully"}},
      {"package files with extension",
       {{"starter.cfg", sMasked}, {"PCClient.zip", "z"}, {"PCClientAccessory.zip", "z"}}, "", true, sSettings, false,
       {"Loaded starter.cfg successfully"}},
      {"one package file", {{"starter.cfg", sMasked}, {"PCClient", "z"}}, "", true, sSettings, false, {}},
      {"plain file never skips the download",
       {{"starter.txt", sSettings}, {"PCClient", "z"}, {"PCClientAccessory", "z"}}, "", true, sSettings, false,
       {"Loaded starter.txt successfully"}},
      {"masked file wins", {{"starter.cfg", sMasked}, {"starter.txt", "<__Role__>plain</__Role__>"}}, "", true,
       sSettings, false, {"Loaded starter.cfg successfully"}},
      {"empty file counts", {{"starter.cfg", ""}}, "", true, "", false, {"Loaded starter.cfg successfully"}},
      {"too long is refused", {{"starter.txt", std::string(4096, 'x')}}, "", false, "", false,
       {"Refused starter.txt: 4096 bytes do not fit 4095"}},
      {"delay for the client", {}, "--called_by_client_to_sync", true, "", false, {"Delay to load setting"}},
      {"delay for the downloader", {}, "x --called_by_downloader", true, "", false, {"Delay to load setting"}},
      {"nothing", {}, "Quorumvessel:sp=1", false, "", false, {}},
      // Any web page can open a link: a flag inside one is no client's call.
      {"flag inside a link", {}, "Quorumvessel:--called_by_downloader", false, "", false,
       {"Ignored --called_by_downloader in a protocol link"}},
  };
  wchar_t sSaved[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, sSaved);
  for (const auto& c : aCases) {
    TestDir oDir("configure");
    for (const auto& f : c.aFiles) oDir.Write(f.first, f.second);
    ASSERT_TRUE(SetCurrentDirectoryW(oDir.Path().c_str()));
    LogCapture log;
    SetupHandler o;
    std::strcpy(o.m_sCommandLine, c.sCommandLine);
    char sSetting[4096] = {};
    EXPECT_EQ(o.LoadSetupConfigure(sSetting), c.bResult) << c.sName;
    SetCurrentDirectoryW(sSaved);
    EXPECT_EQ(std::string(sSetting), c.sSetting) << c.sName;
    EXPECT_EQ(o.m_bClientFilesAvailable, c.bClientFiles) << c.sName;
    for (const auto& sLine : c.aLines) EXPECT_TRUE(log.Contains(sLine)) << c.sName << ": " << sLine;
  }
}

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <utility>
#include <vector>

#include "code/setuphandler/setuphandler.h"
#include "code/setuphandler/setupinterface.h"
#include "code/utility/protect/queryprotection.h"
#include "code/utility/system/userdirs.h"
#include "code/utility/text/boundedtext.h"
#include "code/utility/text/encoding.h"
#include "tests/unit/logcapture.h"
#include "tests/win/fakeprograms_win.h"

using namespace testfakes;

namespace {
// The real handler ends the process after launching the client.
class TestHandler : public SetupHandler {
 public:
  int m_iEndCalls = 0;
  unsigned int m_iExitCode = 99;

 protected:
  void EndProcess(unsigned int iExitCode) override {
    ++m_iEndCalls;
    m_iExitCode = iExitCode;
  }
};

void Set(char* sTarget, std::size_t iSize, const std::string& sText) {
  ASSERT_TRUE(Utility::CopyIfFits(sTarget, iSize, sText));
}
#define SET(member, text) Set(member, sizeof(member), text)

std::string Crlf(const std::string& s) {
  std::string sOut;
  for (char c : s) {
    if (c == '\n') sOut += '\r';
    sOut += c;
  }
  return sOut;
}

std::vector<std::string> Messages(const LogCapture& log, const char* sFunction) {
  std::vector<std::string> a;
  for (const auto& e : log.entries()) {
    if (e.sFunction == sFunction) a.push_back(e.sMessage);
  }
  return a;
}

// The texts the handler gives the window, in order.
class TextWindow : public SetupInterface {
 public:
  void PostToDialog(unsigned int uMessage, std::uintptr_t wParam, std::intptr_t) override {
    aTexts.emplace_back(uMessage, SetupMessage::CarriesText(uMessage) ? SetupMessage::ReadTextBlock(wParam) : "");
    if (SetupMessage::CarriesText(uMessage)) SetupMessage::FreeTextBlock(wParam);
  }
  std::vector<std::pair<unsigned int, std::string>> aTexts;
};

const char* const kSetting = "<__Role__>attendee</__Role__>\n<__ClientName__>Quorumvessel</__ClientName__>";
const char* const kStatusFile = "setup_status.txt";
}  // namespace

TEST(LaunchClient, StatusFileAbsentDeclines) {
  TempFolder oFolder("qv launch");
  const std::string sClient = oFolder.Sub("client dir");
  CopyFake("Quorumvessel", sClient);
  TestHandler oHandler;
  SET(oHandler.m_sClientDirectory, sClient);
  SET(oHandler.m_sSetting, kSetting);
  LogCapture log;
  EXPECT_FALSE(oHandler.LaunchClient());
  EXPECT_EQ(ReadText(sClient + "\\" + kStatusFile), "<__ClientCalledToLaunch__>Y</__ClientCalledToLaunch__>");
  EXPECT_FALSE(Exists(sClient + "\\rsp1024hcmd.txt"));
  EXPECT_FALSE(Exists(sClient + "\\Quorumvessel.record.txt"));
  EXPECT_EQ(oHandler.m_iEndCalls, 0);
  EXPECT_STREQ(oHandler.m_sSetting, kSetting);
  EXPECT_EQ(Messages(log, "SetupHandler::LaunchClient"),
            (std::vector<std::string>{"Existing version is current, m_bCalledByClientToSyncVersion = N, "
                                      "m_sClientDirectory = " + sClient}));
  EXPECT_TRUE(log.Contains("Failed: m_sStarterSid = , m_sAccountServerName = "));
}

TEST(LaunchClient, ConfirmedMarkerLaunchesWithCommandFile) {
  ClientFamilyLock oLock;
  for (const bool bCalledByCommandLine : {true, false}) {
    TempFolder oFolder("qv launch");
    const std::string sClient = oFolder.Sub("client dir");
    const std::string sStarter = oFolder.Sub("starter dir");
    CopyFake("Quorumvessel", sClient);
    // The client keeps other elements in the status file; they stay.
    WriteText(sClient + "\\" + kStatusFile,
              "<__A__>1</__A__>\n<__ClientCalledToLaunch__>N</__ClientCalledToLaunch__>\n<__B__>2</__B__>\n");
    TestHandler oHandler;
    SET(oHandler.m_sClientDirectory, sClient);
    SET(oHandler.m_sCurrentDirectory, sStarter);
    SET(oHandler.m_sCurrentFile, "QuorumvesselStarter.exe");
    SET(oHandler.m_sSetting, kSetting);
    oHandler.m_bCalledByCommandLine = bCalledByCommandLine;
    LogCapture log;
    EXPECT_TRUE(oHandler.LaunchClient());

    const std::string sCommand =
        "<__SetupDirectory__></__SetupDirectory__>\n"
        "<__SetupFile__>" + sStarter + "\\QuorumvesselStarter.exe</__SetupFile__>\n"
        "<__SetupFileName__>QuorumvesselStarter.exe</__SetupFileName__>\n"
        "<__SetupConfigureFile__>" + sStarter + "\\starter.cfg</__SetupConfigureFile__>\n" +
        (bCalledByCommandLine ? "" : "<__NeedToRemoveSetup__>Y</__NeedToRemoveSetup__>\n") +
        "<__SkippedDownload__>Y</__SkippedDownload__>\n" + kSetting;
    const std::string sCommandFile = sClient + "\\rsp1024hcmd.txt";
    EXPECT_EQ(ReadText(sCommandFile), Crlf(sCommand));
    EXPECT_EQ(oHandler.m_sSetting, sCommand);
    EXPECT_EQ(ReadText(sClient + "\\" + kStatusFile),
              "<__A__>1</__A__>\r\n<__ClientCalledToLaunch__>Y</__ClientCalledToLaunch__>\r\n<__B__>2</__B__>\r\n");

    // The command file path goes unquoted, even with blanks in it.
    const std::string sStartProcess = "\"" + sClient + "\\Quorumvessel.exe\" --program " + sCommandFile;
    const std::string sRecord = WaitForRecord(sClient, "Quorumvessel");
    EXPECT_EQ(RecordValue(sRecord, "commandline"), sStartProcess);
    EXPECT_EQ(RecordValue(sRecord, "directory"), sClient);
    EXPECT_EQ(RecordValue(sRecord, "show"), std::to_string(SW_SHOW));
    EXPECT_EQ(oHandler.m_iEndCalls, 1);
    EXPECT_EQ(oHandler.m_iExitCode, 0u);
    EXPECT_EQ(Messages(log, "SetupHandler::LaunchClient"),
              (std::vector<std::string>{
                  "Existing version is current, m_bCalledByClientToSyncVersion = N, m_sClientDirectory = " + sClient,
                  "m_sClientDirectory: " + sClient,
                  "Skip installation --- Utility::StartProcess(" + sStartProcess + ", " + sClient + ")"}));
    Kill(static_cast<DWORD>(std::strtoul(RecordValue(sRecord, "pid").c_str(), nullptr, 10)));
  }
}

TEST(LaunchClient, UnwritableCommandFileStillLaunches) {
  ClientFamilyLock oLock;
  TempFolder oFolder("qv launch");
  const std::string sClient = oFolder.Sub("client");
  CopyFake("Quorumvessel", sClient);
  WriteText(sClient + "\\" + kStatusFile, "<__ClientCalledToLaunch__>N</__ClientCalledToLaunch__>");
  // A folder in the command file's place cannot be opened for writing.
  oFolder.Sub("client\\rsp1024hcmd.txt");
  TestHandler oHandler;
  SET(oHandler.m_sClientDirectory, sClient);
  LogCapture log;
  EXPECT_TRUE(oHandler.LaunchClient());
  EXPECT_TRUE(log.Contains("Failed to open file to write: " + sClient + "\\rsp1024hcmd.txt"));
  const std::string sRecord = WaitForRecord(sClient, "Quorumvessel");
  EXPECT_EQ(oHandler.m_iEndCalls, 1);
  Kill(static_cast<DWORD>(std::strtoul(RecordValue(sRecord, "pid").c_str(), nullptr, 10)));
}

TEST(LaunchClient, ClientThatCannotStartIsShownAndTheRunEnds) {
  TempFolder oFolder("qv launch");
  const std::string sClient = oFolder.Sub("client");  // no Quorumvessel.exe in it
  WriteText(sClient + "\\" + kStatusFile, "<__ClientCalledToLaunch__>N</__ClientCalledToLaunch__>");
  TestHandler oHandler;
  TextWindow oWindow;
  oHandler.m_pSetupInterface = &oWindow;
  SET(oHandler.m_sClientDirectory, sClient);
  SET(oHandler.m_sClientName, "Acme");
  LogCapture log;
  // Handled: the run does not go on to download, and the process stays for
  // the user to read the window.
  EXPECT_TRUE(oHandler.LaunchClient());
  EXPECT_EQ(oHandler.m_iEndCalls, 0);
  const std::string sStartProcess = "\"" + sClient + "\\Quorumvessel.exe\" --program " + sClient + "\\rsp1024hcmd.txt";
  EXPECT_EQ(log.entries().back().sMessage, "Failed to start " + sStartProcess);
  EXPECT_EQ(log.entries().back().iSeverity, 3);
  EXPECT_EQ(log.entries().back().sFunction, "SetupHandler::LaunchClient");
  EXPECT_EQ(oWindow.aTexts, (std::vector<std::pair<unsigned int, std::string>>{
                                {6042u, "Unable to start Acme. Please try it again"}}));
  // Still marked as not confirmed: the next run installs afresh.
  EXPECT_EQ(ReadText(sClient + "\\" + kStatusFile), "<__ClientCalledToLaunch__>Y</__ClientCalledToLaunch__>");
}

TEST(LaunchClient, CommandTextTooLongIsNotCut) {
  TempFolder oFolder("qv launch");
  const std::string sClient = oFolder.Sub("client");
  WriteText(sClient + "\\" + kStatusFile, "<__ClientCalledToLaunch__>N</__ClientCalledToLaunch__>");
  TestHandler oHandler;
  SET(oHandler.m_sClientDirectory, sClient);
  const std::string sLong(sizeof(oHandler.m_sSetting) - 100, 's');
  SET(oHandler.m_sSetting, sLong);
  LogCapture log;
  EXPECT_FALSE(oHandler.LaunchClient());
  EXPECT_EQ(oHandler.m_sSetting, sLong);
  EXPECT_FALSE(Exists(sClient + "\\rsp1024hcmd.txt"));
  EXPECT_EQ(ReadText(sClient + "\\" + kStatusFile), "<__ClientCalledToLaunch__>N</__ClientCalledToLaunch__>");
  EXPECT_EQ(oHandler.m_iEndCalls, 0);
  EXPECT_EQ(log.entries().back().iSeverity, 3);
}

namespace {
struct InstallRun {
  TempFolder oFolder{"qv install"};
  std::string sSetup = oFolder.Sub("setup dir");
  std::string sStarter = oFolder.Sub("starter dir");
  TestHandler oHandler;
  InstallRun(const std::string& sClientName, const std::string& sCommandLine) {
    SET(oHandler.m_sSetupDirectory, sSetup);
    SET(oHandler.m_sCurrentDirectory, sStarter);
    SET(oHandler.m_sClientName, sClientName);
    SET(oHandler.m_sCommandLine, sCommandLine);
    SET(oHandler.m_sSetting, std::string("<__SetupDirectory__>") + sSetup + "</__SetupDirectory__>\n" + kSetting);
  }
};
}  // namespace

TEST(CallToInstall, InstallerGetsTheStarterCommandLine) {
  ClientFamilyLock oLock;
  struct Case {
    const char* sClientName;
    const char* sCommandLine;
    const char* sLogged;
  } aCases[] = {
      // A launch link: the masked query value shows only its length.
      {"Quorumvessel", "Quorumvessel:sp=QUJDRA%3D%3D&chk=77aa", "Quorumvessel:sp=12&chk=4"},
      // Only the exact name is the edition with a launcher of its own.
      {"saltmarsh", "", ""},
  };
  for (const auto& c : aCases) {
    InstallRun oRun(c.sClientName, c.sCommandLine);
    CopyFake("QVInstaller", oRun.sSetup);
    CopyFake("QVService", oRun.sSetup, "QVLauncher.exe");
    LogCapture log;
    oRun.oHandler.CallToInstall();

    EXPECT_EQ(ReadText(oRun.sSetup + "\\rsp1024hcmd.txt"), Crlf(oRun.oHandler.m_sSetting));
    EXPECT_FALSE(Exists(oRun.sSetup + "\\QVServiceCache.txt"));
    EXPECT_FALSE(Exists(oRun.sSetup + "\\WorkingDirectory.txt"));
    const std::string sInstaller = oRun.sSetup + "\\QVInstaller.exe";
    const std::string sRecord = WaitForRecord(oRun.sSetup, "QVInstaller");
    EXPECT_EQ(RecordValue(sRecord, "commandline"), "\"" + sInstaller + "\" " + c.sCommandLine);
    EXPECT_EQ(RecordValue(sRecord, "directory"), oRun.sSetup);
    EXPECT_EQ(RecordValue(sRecord, "show"), std::to_string(SW_HIDE));
    EXPECT_FALSE(Exists(oRun.sSetup + "\\QVLauncher.record.txt"));
    EXPECT_EQ(Messages(log, "SetupHandler::CallToInstall"),
              (std::vector<std::string>{
                  "m_sSetupDirectory: " + oRun.sSetup, "m_bCalledByClientToSyncVersion is false",
                  "sInstaller = " + sInstaller,
                  "StartProcess(sStartProcess = \"" + sInstaller + "\" " + c.sLogged +
                      ", m_sSetupDirectory = " + oRun.sSetup + ")"}));
    for (const auto& m : log.messages()) {
      EXPECT_EQ(m.find("QUJDRA"), std::string::npos) << m;
      EXPECT_EQ(m.find("77aa"), std::string::npos) << m;
    }
    Kill(static_cast<DWORD>(std::strtoul(RecordValue(sRecord, "pid").c_str(), nullptr, 10)));
  }
}

TEST(CallToInstall, LongLinkGivesTheInstallerItsLastItem) {
  ClientFamilyLock oLock;
  std::string sParameter, sCheckSum;
  Utility::ProtectQuery("role=host&name=" + std::string(2200, 'n'), sParameter, sCheckSum);
  const std::string sCheckItem = "chk=" + Utility::URLEncode(sCheckSum);
  const std::string sLink = "Quorumvessel:sp=" + Utility::URLEncode(sParameter) + "&" + sCheckItem;
  ASSERT_GT(sLink.size(), 2900u);
  InstallRun oRun("Quorumvessel", sLink);
  CopyFake("QVInstaller", oRun.sSetup);
  TextWindow oWindow;
  oRun.oHandler.m_pSetupInterface = &oWindow;
  LogCapture log;
  oRun.oHandler.CallToInstall();
  const std::string sInstaller = "\"" + oRun.sSetup + "\\QVInstaller.exe\" ";
  const std::string sRecord = WaitForRecord(oRun.sSetup, "QVInstaller");
  EXPECT_EQ(RecordValue(sRecord, "commandline"), sInstaller + "Quorumvessel:" + sCheckItem);
  const std::string sLogged = sInstaller + "Quorumvessel:chk=" + std::to_string(sCheckItem.size() - 4);
  EXPECT_EQ(Messages(log, "SetupHandler::CallToInstall"),
            (std::vector<std::string>{"m_sSetupDirectory: " + oRun.sSetup, "m_bCalledByClientToSyncVersion is false",
                                      "sInstaller = " + oRun.sSetup + "\\QVInstaller.exe",
                                      "sStartProcess does not fit 2047 characters, passing on " + sLogged,
                                      "StartProcess(sStartProcess = " + sLogged +
                                          ", m_sSetupDirectory = " + oRun.sSetup + ")"}));
  EXPECT_TRUE(oWindow.aTexts.empty());
  EXPECT_EQ(std::string(oRun.oHandler.m_sCommandLine), sLink);
  Kill(static_cast<DWORD>(std::strtoul(RecordValue(sRecord, "pid").c_str(), nullptr, 10)));
}

TEST(CallToInstall, InstallerThatCannotStartIsShown) {
  struct Case {
    const char* sName;
    std::string sCommandLine;
    bool bProgram;
  } aCases[] = {
      {"no installer in the setup folder", "Quorumvessel:sp=abc&chk=x", false},
      // Even the link's last item is too long for a command line.
      {"last item too long", "Quorumvessel:sp=abc&chk=x&pad=" + std::string(2100, 'p'), true},
  };
  for (const auto& c : aCases) {
    InstallRun oRun("Acme", c.sCommandLine);
    if (c.bProgram) CopyFake("QVInstaller", oRun.sSetup);
    TextWindow oWindow;
    oRun.oHandler.m_pSetupInterface = &oWindow;
    LogCapture log;
    oRun.oHandler.CallToInstall();
    const auto aMessages = Messages(log, "SetupHandler::CallToInstall");
    ASSERT_FALSE(aMessages.empty()) << c.sName;
    EXPECT_EQ(aMessages.back().rfind("Failed to start \"" + oRun.sSetup + "\\QVInstaller.exe\" Quorumvessel:", 0), 0u)
        << c.sName << ": " << aMessages.back();
    EXPECT_EQ(log.entries().back().iSeverity, 3) << c.sName;
    EXPECT_EQ(oWindow.aTexts, (std::vector<std::pair<unsigned int, std::string>>{
                                  {6042u, "Unable to start the Acme installer. Please try it again"}}))
        << c.sName;
    // The settings are there for a later try.
    EXPECT_EQ(ReadText(oRun.sSetup + "\\rsp1024hcmd.txt"), Crlf(oRun.oHandler.m_sSetting)) << c.sName;
    Sleep(200);
    EXPECT_FALSE(Exists(oRun.sSetup + "\\QVInstaller.record.txt")) << c.sName;
  }
}

TEST(CallToInstall, ClientStartedRunCarriesFolderChoices) {
  ClientFamilyLock oLock;
  InstallRun oRun("Quorumvessel", "--called_by_client_to_sync");
  oRun.oHandler.m_bCalledByClientToSyncVersion = true;
  CopyFake("QVInstaller", oRun.sSetup);
  const std::string sCache = std::string("<__X__>a</__X__>\r\nb\n\0c", 23);
  WriteText(oRun.oFolder.Sub("starter dir\\Quorumvessel") + "\\QVServiceCache.txt", sCache);
  // An older file in the setup folder is replaced.
  WriteText(oRun.sSetup + "\\WorkingDirectory.txt", "old old old old old old old old old old old old old");
  LogCapture log;
  oRun.oHandler.CallToInstall();
  EXPECT_EQ(ReadText(oRun.sSetup + "\\QVServiceCache.txt"), sCache);
  EXPECT_EQ(ReadText(oRun.sSetup + "\\WorkingDirectory.txt"),
            "<__WorkingDirectory__>" + oRun.sStarter + "</__WorkingDirectory__>\r\n");
  EXPECT_TRUE(log.Contains("m_bCalledByClientToSyncVersion is true"));
  const std::string sRecord = WaitForRecord(oRun.sSetup, "QVInstaller");
  EXPECT_EQ(RecordValue(sRecord, "commandline"),
            "\"" + oRun.sSetup + "\\QVInstaller.exe\" --called_by_client_to_sync");
  Kill(static_cast<DWORD>(std::strtoul(RecordValue(sRecord, "pid").c_str(), nullptr, 10)));
}

// The edition with its own launcher: the shell starts it, elevated for an
// administrator, and nothing else is started.
TEST(CallToInstall, SaltmarshLaterThanXPUsesTheShell) {
  if (Utility::IsWindowsXP()) GTEST_SKIP() << "system reports Windows XP";
  ClientFamilyLock oLock;
  InstallRun oRun("Saltmarsh", "Saltmarsh:sp=abc&chk=1");
  CopyFake("QVInstaller", oRun.sSetup);
  CopyFake("QVService", oRun.sSetup, "QVLauncher.exe");
  LogCapture log;
  oRun.oHandler.CallToInstall();
  const std::string sLauncher = oRun.sSetup + "\\QVLauncher.exe";
  const std::string sRecord = WaitForRecord(oRun.sSetup, "QVLauncher");
  EXPECT_EQ(RecordValue(sRecord, "show"), std::to_string(SW_HIDE));
  const char* sVerb = Utility::IsUserAdmin() ? "runas" : "open";
  EXPECT_EQ(Messages(log, "SetupHandler::CallToInstall"),
            (std::vector<std::string>{"m_sSetupDirectory: " + oRun.sSetup, "m_bCalledByClientToSyncVersion is false",
                                      "It is Saltmarsh", std::string("ShellExecuteEx() sVerb = ") + sVerb,
                                      "ShellExecuteEx() sInstaller = " + sLauncher}));
  Sleep(500);
  EXPECT_FALSE(Exists(oRun.sSetup + "\\QVInstaller.record.txt"));
  Kill(static_cast<DWORD>(std::strtoul(RecordValue(sRecord, "pid").c_str(), nullptr, 10)));
}

// Run by the end-to-end tests in a prefix that reports Windows XP.
TEST(CallToInstall, SaltmarshOnXPStartsLauncherElseInstaller) {
  if (!Utility::IsWindowsXP()) GTEST_SKIP() << "system does not report Windows XP";
  ClientFamilyLock oLock;
  for (const bool bLauncher : {true, false}) {
    InstallRun oRun("Saltmarsh", "Saltmarsh:sp=abc&chk=1");
    CopyFake("QVInstaller", oRun.sSetup);
    if (bLauncher) CopyFake("QVService", oRun.sSetup, "QVLauncher.exe");
    LogCapture log;
    oRun.oHandler.CallToInstall();
    const std::string sLauncher = oRun.sSetup + "\\QVLauncher.exe";
    const std::string sStarted = bLauncher ? sLauncher : oRun.sSetup + "\\QVInstaller.exe";
    std::vector<std::string> aExpected = {"m_sSetupDirectory: " + oRun.sSetup,
                                          "m_bCalledByClientToSyncVersion is false", "It is Saltmarsh", "It is XP"};
    if (!bLauncher) aExpected.push_back("Failed to find sInstaller = " + sLauncher);
    aExpected.push_back("sInstaller = " + sStarted);
    aExpected.push_back("StartProcess(sStartProcess = \"" + sStarted + "\" Saltmarsh:sp=3&chk=1, m_sSetupDirectory = " +
                        oRun.sSetup + ")");
    EXPECT_EQ(Messages(log, "SetupHandler::CallToInstall"), aExpected);
    const std::string sRecord = WaitForRecord(oRun.sSetup, bLauncher ? "QVLauncher" : "QVInstaller");
    EXPECT_EQ(RecordValue(sRecord, "commandline"), "\"" + sStarted + "\" Saltmarsh:sp=abc&chk=1");
    Kill(static_cast<DWORD>(std::strtoul(RecordValue(sRecord, "pid").c_str(), nullptr, 10)));
  }
}

// Run by the end-to-end tests against the local account server, which they
// name in QV_TEST_SERVER ("address:port"); QV_TEST_USER_INPUT is its answer.
TEST(InformServerOfInstallation, ReportsOnlyWithSidAndServer) {
  const char* sServer = std::getenv("QV_TEST_SERVER");
  if (sServer == nullptr) GTEST_SKIP() << "no account server named";
  const std::string sAddress(sServer);
  const std::size_t iColon = sAddress.find(':');
  ASSERT_NE(iColon, std::string::npos);

  TestHandler oHandler;
  oHandler.m_iAccountServerPort = std::atoi(sAddress.c_str() + iColon + 1);
  LogCapture log;
  SET(oHandler.m_sAccountServerName, sAddress.substr(0, iColon));
  EXPECT_EQ(oHandler.InformServerOfInstallation(), "");  // no sid
  oHandler.m_sAccountServerName[0] = '\0';
  SET(oHandler.m_sStarterSid, "sid-1");
  EXPECT_EQ(oHandler.InformServerOfInstallation(), "");  // no server
  EXPECT_EQ(Messages(log, "SetupHandler::InformServerOfInstallation"),
            (std::vector<std::string>{
                "Failed: m_sStarterSid = , m_sAccountServerName = " + sAddress.substr(0, iColon),
                "Failed: m_sStarterSid = sid-1, m_sAccountServerName = "}));

  SET(oHandler.m_sAccountServerName, sAddress.substr(0, iColon));
  SET(oHandler.m_sStarterSid, "4f2a-9+x");
  const char* sUserInput = std::getenv("QV_TEST_USER_INPUT");
  EXPECT_EQ(oHandler.InformServerOfInstallation(), sUserInput != nullptr ? sUserInput : "");
  const std::string sLast = Messages(log, "SetupHandler::InformServerOfInstallation").back();
  EXPECT_EQ(sLast.rfind("sURL = /as/wapi/ssi?sid=4f2a-9+x&", 0), 0u) << sLast;
  printf("REPORT-LOG %s\n", sLast.c_str());
}

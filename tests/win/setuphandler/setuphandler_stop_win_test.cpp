#include <windows.h>

#include <gtest/gtest.h>

#include <regex>

#include "code/setuphandler/setuphandler.h"
#include "tests/unit/logcapture.h"
#include "tests/win/fakeprograms_win.h"

using namespace testfakes;

namespace {
// StopProcess's own lines, each cut before its error code and text (which
// depend on the system), e.g. "4Failed to close QuorumvesselMainWindowClass, ".
std::vector<std::string> StopLines(const LogCapture& log) {
  std::vector<std::string> aLines;
  const std::regex oErrorTail("error code: -?[0-9]+, error: [^]*$");
  for (const auto& e : log.entries()) {
    if (e.sFunction != "SetupHandler::StopProcess" && e.sFunction != "SetupHandler:StopProcess()") continue;
    EXPECT_EQ(e.sSource, "code/setuphandler/setuphandler");
    aLines.push_back(std::regex_replace(e.sMessage, oErrorTail, ""));
  }
  return aLines;
}

const std::vector<std::string> kTermination = {"1", "2", "3", "Has stopped Quorumvessel.exe and QVInstaller.exe, "};
const std::string kFailed = "Failed to close QuorumvesselMainWindowClass, ";

std::vector<std::string> Expected(const std::vector<std::string>& aPasses, const char* sService) {
  std::vector<std::string> a = {"Enter ..."};
  a.insert(a.end(), aPasses.begin(), aPasses.end());
  a.insert(a.end(), kTermination.begin(), kTermination.end());
  a.push_back(sService);
  return a;
}

int CountLines(const std::string& sText, const std::string& sLine) {
  int n = 0;
  for (std::size_t i = sText.find(sLine + "\n"); i != std::string::npos; i = sText.find(sLine + "\n", i + 1)) {
    if (i == 0 || sText[i - 1] == '\n') ++n;
  }
  return n;
}

struct Started {
  std::string sFolder;
  DWORD iId;
};

Started StartFake(const TempFolder& oFolder, const std::string& sSub, const std::string& sFake,
                  const std::string& sAs, const std::string& sOptions) {
  const std::string sFolder = oFolder.Sub(sSub);
  const std::string sProgram = CopyFake(sFake, sFolder, sAs);
  const DWORD iId = Launch("\"" + sProgram + "\" --stay-ms=60000 " + sOptions, sFolder);
  EXPECT_NE(iId, 0u) << sAs;
  return {sFolder, iId};
}
}  // namespace

TEST(StopProcess, NoWindowGoesStraightToTermination) {
  ClientFamilyLock oLock;
  TempFolder oFolder("qv stop");
  // A windowless client and an installer: both are stopped by name.
  const Started oClient = StartFake(oFolder, "c", "QVService", "Quorumvessel.exe", "");
  const Started oInstaller = StartFake(oFolder, "i", "QVInstaller", "QVInstaller.exe", "");
  WaitForRecord(oClient.sFolder, "Quorumvessel");
  WaitForRecord(oInstaller.sFolder, "QVInstaller");

  LogCapture log;
  SetupHandler oHandler;
  oHandler.StopProcess();
  EXPECT_EQ(StopLines(log), Expected({}, "bServiceModeRunning is false"));
  EXPECT_TRUE(WaitFor([&] { return !ProcessAlive(oClient.iId) && !ProcessAlive(oInstaller.iId); }));
}

TEST(StopProcess, WindowClosingWithinASecond) {
  ClientFamilyLock oLock;
  TempFolder oFolder("qv stop");
  const Started oClient = StartFake(oFolder, "c", "Quorumvessel", "", "--close-delay-ms=300");
  WaitForRecord(oClient.sFolder, "Quorumvessel");

  LogCapture log;
  SetupHandler oHandler;
  oHandler.StopProcess();
  EXPECT_EQ(StopLines(log), Expected({kFailed, "4" + kFailed}, "bServiceModeRunning is false"));
  const std::string sEvents = ReadText(oClient.sFolder + "\\Quorumvessel.events.txt");
  EXPECT_EQ(CountLines(sEvents, "close-request"), 1) << sEvents;
  EXPECT_EQ(CountLines(sEvents, "closed"), 1) << sEvents;
  Kill(oClient.iId);
}

TEST(StopProcess, WindowNeverClosingIsTerminatedAfterFivePasses) {
  ClientFamilyLock oLock;
  TempFolder oFolder("qv stop");
  const Started oClient = StartFake(oFolder, "c", "Quorumvessel", "", "--ignore-close");
  const Started oService = StartFake(oFolder, "s", "QVService", "", "");
  WaitForRecord(oClient.sFolder, "Quorumvessel");
  WaitForRecord(oService.sFolder, "QVService");

  LogCapture log;
  SetupHandler oHandler;
  oHandler.StopProcess();
  std::vector<std::string> aPasses;
  for (int i = 0; i < 5; ++i) {
    aPasses.insert(aPasses.end(), {kFailed, "2" + kFailed, "3" + kFailed, "4" + kFailed});
  }
  // A running service changes only the last line, and is left running.
  EXPECT_EQ(StopLines(log), Expected(aPasses, "bServiceModeRunning is true"));
  EXPECT_TRUE(WaitFor([&] { return !ProcessAlive(oClient.iId); }));
  EXPECT_TRUE(ProcessAlive(oService.iId));
  const std::string sEvents = ReadText(oClient.sFolder + "\\Quorumvessel.events.txt");
  EXPECT_EQ(CountLines(sEvents, "close-request ignored"), 6) << sEvents;
  EXPECT_EQ(CountLines(sEvents, "closed"), 0) << sEvents;
  Kill(oService.iId);
}

#include <windows.h>

#include <gtest/gtest.h>

#include "code/utility/log/sockerror.h"
#include "code/utility/system/processutil.h"
#include "code/utility/system/scopedhandle_win.h"
#include "tests/unit/logcapture.h"
#include "tests/win/fakeprograms_win.h"

using namespace testfakes;

TEST(StartProcess, ShownOnlyForTheClientAndStartedInFolder) {
  ClientFamilyLock oLock;
  TempFolder oFolder("qv start");
  struct Case {
    const char* sFake;
    int iShow;
  } aCases[] = {{"Quorumvessel", SW_SHOW}, {"QVService", SW_HIDE}};
  for (const auto& c : aCases) {
    const std::string sFolder = oFolder.Sub(c.sFake);
    const std::string sProgram = CopyFake(c.sFake, sFolder);
    const std::string sCommandLine = "\"" + sProgram + "\" --stay-ms=100";
    unsigned long iProcessId = 0;
    LogCapture log;
    ASSERT_TRUE(Utility::StartProcess(sCommandLine.c_str(), oFolder.Path().c_str(), &iProcessId));
    EXPECT_TRUE(log.Contains("sCommandLine = " + sCommandLine + ", sWorkingDirectory = " + oFolder.Path()));
    EXPECT_TRUE(log.Contains("UTF8ToUTF16 is OK"));
    EXPECT_TRUE(log.Contains("succeeded."));
    const std::string sRecord = WaitForRecord(sFolder, c.sFake);
    EXPECT_EQ(RecordValue(sRecord, "commandline"), sCommandLine);
    EXPECT_EQ(RecordValue(sRecord, "directory"), oFolder.Path());
    EXPECT_EQ(RecordValue(sRecord, "show"), std::to_string(c.iShow)) << c.sFake;
    EXPECT_EQ(RecordValue(sRecord, "pid"), std::to_string(iProcessId));
    Kill(iProcessId);
  }
}

TEST(StartProcess, WithoutFolderRunsInCurrentOne) {
  ClientFamilyLock oLock;
  TempFolder oFolder("qv start");
  const std::string sProgram = CopyFake("QVService", oFolder.Path());
  wchar_t sCurrent[MAX_PATH] = {0};
  GetCurrentDirectoryW(MAX_PATH, sCurrent);
  LogCapture log;
  unsigned long iProcessId = 0;
  ASSERT_TRUE(Utility::StartProcess(("\"" + sProgram + "\" --stay-ms=100").c_str(), nullptr, &iProcessId));
  EXPECT_TRUE(log.Contains("sCommandLine = \"" + sProgram + "\" --stay-ms=100"));
  const std::string sRecord = WaitForRecord(oFolder.Path(), "QVService");
  EXPECT_EQ(RecordValue(sRecord, "directory"), TextConv::WideToUtf8(sCurrent));
  Kill(iProcessId);
}

// A document cannot be created as a process; the shell opens it with the
// program registered for its type, which here records how it was called.
TEST(StartProcess, ShellFallbackGetsUnquotedFileAndParameters) {
  ClientFamilyLock oLock;
  TempFolder oFolder("qv shell");
  const std::string sProgram = CopyFake("QVService", oFolder.Path());
  const std::string sDocument = oFolder / "notes for qv.qvfakedoc";
  WriteText(sDocument, "not a program\n");

  const std::wstring sType = L"QVFakeDocument" + std::to_wstring(GetCurrentProcessId());
  const std::wstring sCommand = L"\"" + TextConv::Utf8ToWide(sProgram) + L"\" \"%1\" %*";
  HKEY hKey = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, L".qvfakedoc", 0, nullptr, 0, KEY_WRITE, nullptr, &hKey, nullptr), 0);
  RegSetValueExW(hKey, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(sType.c_str()),
                 static_cast<DWORD>((sType.size() + 1) * 2));
  RegCloseKey(hKey);
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, (sType + L"\\shell\\open\\command").c_str(), 0, nullptr, 0, KEY_WRITE,
                            nullptr, &hKey, nullptr),
            0);
  RegSetValueExW(hKey, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(sCommand.c_str()),
                 static_cast<DWORD>((sCommand.size() + 1) * 2));
  RegCloseKey(hKey);

  LogCapture log;
  unsigned long iProcessId = 4242;
  const bool bStarted =
      Utility::StartProcess(("\"" + sDocument + "\" --stay-ms=100").c_str(), oFolder.Path().c_str(), &iProcessId);
  RegDeleteTreeW(HKEY_CLASSES_ROOT, sType.c_str());
  RegDeleteTreeW(HKEY_CLASSES_ROOT, L".qvfakedoc");
  ASSERT_TRUE(bStarted);
  EXPECT_EQ(iProcessId, 4242u);
  const std::string sRecord = WaitForRecord(oFolder.Path(), "QVService");
  EXPECT_EQ(RecordValue(sRecord, "commandline"), "\"" + sProgram + "\" \"" + sDocument + "\" --stay-ms=100");
  EXPECT_EQ(RecordValue(sRecord, "show"), "0");
  EXPECT_FALSE(log.Contains("succeeded."));
}

TEST(StartProcess, BothWaysFailing) {
  TempFolder oFolder("qv none");
  const std::string sMissing = oFolder / "missing.exe";
  LogCapture log;
  unsigned long iProcessId = 7;
  EXPECT_FALSE(Utility::StartProcess(("\"" + sMissing + "\" -x").c_str(), oFolder.Path().c_str(), &iProcessId));
  EXPECT_EQ(iProcessId, 7u);
  const std::string sLast = log.messages().back();
  EXPECT_EQ(sLast.rfind("ShellExecute(): iHinstance = 2, iErrorCode = 2, Error = ", 0), 0u) << sLast;
  EXPECT_NE(sLast.find(", sExecutable = " + sMissing + ", sParameter = -x"), std::string::npos) << sLast;
  EXPECT_EQ(log.entries().back().iSeverity, 3);

  // Too long for the wide buffer: refused, nothing cut and started.
  const std::string sLong = "\"" + sMissing + "\" " + std::string(2100, 'a');
  EXPECT_FALSE(Utility::StartProcess(sLong.c_str(), nullptr, nullptr));
  EXPECT_EQ(log.messages().back(), "sCommandLine is empty or does not fit 2047 characters: " + sLong);
}

TEST(TerminateProcessByName, ExactQuotedNameAnyCase) {
  ClientFamilyLock oLock;
  TempFolder oFolder("qv kill");
  struct Case {
    const char* sSub;
    const char* sAs;
    bool bTerminated;
  } aCases[] = {
      {"a", "Quorumvessel.exe", true}, {"b", "QUORUMVESSEL.EXE", true}, {"c", "l.exe", false},
      {"d", "Quorumvessel2.exe", false}, {"e", "QVService.exe", false},
  };
  DWORD aIds[5] = {0};
  for (int i = 0; i < 5; ++i) {
    const std::string sFolder = oFolder.Sub(aCases[i].sSub);
    const std::string sProgram = CopyFake("QVService", sFolder, aCases[i].sAs);
    aIds[i] = Launch("\"" + sProgram + "\" --stay-ms=60000", sFolder);
    ASSERT_NE(aIds[i], 0u) << aCases[i].sAs;
  }
  LogCapture log;
  EXPECT_TRUE(Utility::TerminateProcessByName("\"Quorumvessel.exe\""));
  EXPECT_TRUE(log.Contains("sProcessName = \"quorumvessel.exe\""));
  for (int i = 0; i < 5; ++i) {
    if (aCases[i].bTerminated) {
      EXPECT_TRUE(WaitFor([&] { return !ProcessAlive(aIds[i]); })) << aCases[i].sAs;
    } else {
      EXPECT_TRUE(ProcessAlive(aIds[i])) << aCases[i].sAs;
    }
    Kill(aIds[i]);
  }
  EXPECT_FALSE(Utility::TerminateProcessByName(""));
  EXPECT_FALSE(Utility::TerminateProcessByName(nullptr));
}

TEST(IsProcessRunning, ExactNameAnyCase) {
  ClientFamilyLock oLock;
  TempFolder oFolder("qv running");
  const std::string sProgram = CopyFake("QVService", oFolder.Path());
  const DWORD iId = Launch("\"" + sProgram + "\" --stay-ms=60000", oFolder.Path());
  ASSERT_NE(iId, 0u);
  ASSERT_TRUE(WaitFor([] { return Utility::IsProcessRunning("QVService.exe"); }));
  EXPECT_TRUE(Utility::IsProcessRunning("qvservice.EXE"));
  EXPECT_FALSE(Utility::IsProcessRunning("Service.exe"));
  EXPECT_FALSE(Utility::IsProcessRunning("QVService"));
  Kill(iId);
  EXPECT_TRUE(WaitFor([] { return !Utility::IsProcessRunning("QVService.exe"); }));
}

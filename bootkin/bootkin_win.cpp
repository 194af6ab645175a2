#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "bootkin/bootkin.h"
#include "bootkin/startstages_win.h"
#include "code/crashreport/crashhandler.h"
#include "code/utility/text/limits.h"
#include "code/utility/log/logsink.h"
#include "code/utility/log/mylog.h"
#include "code/utility/text/tagtext.h"
#include "code/utility/text/textconv.h"

namespace {
const char kFunction[] = "BootkinApp::InitInstance()";
const char kSource[] = "bootkin/bootkin";

// Standard output is the only place left to report a run log that failed.
bool EarlyFailure(const char* sText) {
  std::fputs(sText, stdout);
  std::fflush(stdout);
  return false;
}
}  // namespace

void BootkinApp::SetCommandLine(const wchar_t* wsCmdLine) { m_wsCmdLine = wsCmdLine ? wsCmdLine : L""; }

bool BootkinApp::ClientNameFromFileName(const std::string& sFileName, std::string* pClientName) {
  std::size_t iAt = sFileName.find("Starter");
  if (iAt == std::string::npos) iAt = sFileName.find("starter");
  if (iAt == std::string::npos) return false;
  *pClientName = sFileName.substr(0, iAt);
  return true;
}

int BootkinApp::SmallIconForOem(const std::string& sOemId) {
  if (sOemId == "Fernbrook") return 133;
  if (sOemId == "Pallida") return 135;
  return 134;
}

std::string BootkinApp::CommandLineCopy(const std::wstring& wsCmdLine) {
  return TextConv::WideToUtf8Bounded(wsCmdLine, Limits::kCommandLine);
}

bool BootkinApp::InitInstance() {
  // Before anything can load a library: none from the starter's folder.
  const StartStages::LibrarySearch oLibrarySearch = StartStages::RestrictLibrarySearch();

  // 1-3: crash filter, common controls. Nothing else of a framework is needed.
  StartStages::InstallCrashFilter();
  InitCommonControls();

  // 4-6: the run log, before anything that might want to write to it.
  if (!MyLog::CreateInstance("QVSetup")) return EarlyFailure("1...\n");
  g_pMyLog = MyLog::GetInstance();
  if (g_pMyLog == nullptr) return EarlyFailure("2...\n");
  if (!g_pMyLog->SetFileName("QVSetup.txt") || !g_pMyLog->Initialize()) return EarlyFailure("3...\n");
  StartStages::LogLibrarySearch(oLibrarySearch);

  // 7-10: configuration cache, dialog class and object, Winsock.
  StartStages::CreateConfigureCache();
  const HINSTANCE hInstance = GetModuleHandleW(nullptr);
  if (!StartStages::RegisterDialogClass(hInstance))
    QV_LOG(kFunction, 0, kSource, "AfxRegisterClass failed for %s", "QVSetupWindow");
  StartStages::CreateDialogObject(*this);
  WSADATA oWsaData;
  WSAStartup(0x0101, &oWsaData);

  // 11-13: settings buffer, setup handler, command line.
  char sSetting[Limits::kSetting];
  std::memset(sSetting, 0, sizeof(sSetting));
  int iDecodedLength = 0;
  StartStages::CreateSetupHandler(*this);
  const std::string sCmdLine = CommandLineCopy(m_wsCmdLine);
  StartStages::SetHandlerCommandLine(*this, sCmdLine.c_str());
  StartStages::LogCommandLine(sCmdLine.c_str());

  // 14-15: command line, else embedded settings; then the configuration file.
  if (!sCmdLine.empty())
    StartStages::ProcessCommandLine(*this, sSetting, sizeof(sSetting));
  else
    StartStages::ReadEmbeddedSettings(*this, sSetting, sizeof(sSetting), &iDecodedLength);
  sSetting[sizeof(sSetting) - 1] = '\0';
  bool bHaveSettings = sSetting[0] != '\0';
  if (!bHaveSettings) {
    bHaveSettings = StartStages::LoadSetupConfigure(*this, sSetting, sizeof(sSetting));
    sSetting[sizeof(sSetting) - 1] = '\0';
  }
  CrashHandler::CrashPoint("main");  // test build only
  StartStages::LoadTestLibraries();  // test build only
  if (!bHaveSettings) {
    RegisterStarterBranch();
    return false;
  }

  // 16: run the setup on its worker thread behind the modal progress dialog.
  char sOemId[1024] = "";
  TagText::Extract(sSetting, "<__OEMId__>", "</__OEMId__>", sOemId);
  StartStages::SetDialogSmallIcon(*this, SmallIconForOem(sOemId));
  StartStages::ParseSetting(*this, sSetting);
  StartStages::StartSetupThread(*this);
  StartStages::RunDialog(*this);
  return false;
}

void BootkinApp::RegisterStarterBranch() {
  wchar_t wsPath[Limits::kPath] = {0};
  const DWORD n = GetModuleFileNameW(nullptr, wsPath, Limits::kPath);
  if (n == 0 || n >= Limits::kPath) wsPath[0] = L'\0';
  const wchar_t* wsName = std::wcsrchr(wsPath, L'\\');
  wsName = wsName ? wsName + 1 : wsPath;
  const std::string sCurrentFilePath = TextConv::WideToUtf8Bounded(wsPath, Limits::kPath);
  const std::string sCurrentFileName = TextConv::WideToUtf8Bounded(wsName, Limits::kPath);
  QV_LOG(kFunction, 0, kSource, "sCurrentFilePath = %s, sCurrentFileName = %s", sCurrentFilePath.c_str(),
         sCurrentFileName.c_str());

  std::string sClientName;
  if (!ClientNameFromFileName(sCurrentFileName, &sClientName)) {
    QV_LOG(kFunction, 0, kSource, "invalid sCurrentFileName = %s", sCurrentFileName.c_str());
    return;
  }
  StartStages::RegisterStarter(sCurrentFilePath.c_str(), sClientName.c_str());
  QV_LOG(kFunction, 0, kSource, "No Meeting Parameter, sClientName = %s", sClientName.c_str());
}

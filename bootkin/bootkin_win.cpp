#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include <new>

#include "bootkin/bootkin.h"
#include "bootkin/bootkindialog_win.h"
#include "bootkin/librarysearch_win.h"
#include "bootkin/resource.h"
#include "bootkin/selfsettings_win.h"
#include "code/crashreport/crashhandler.h"
#include "code/pcutility/pcutility_win.h"
#include "code/setuphandler/setuphandler.h"
#include "code/utility/log/logmask.h"
#include "code/utility/log/logsink.h"
#include "code/utility/log/mylog.h"
#include "code/utility/system/myconfigure.h"
#include "code/utility/text/boundedtext.h"
#include "code/utility/text/limits.h"
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
  if (sOemId == "Fernbrook") return IDI_SMALL_FERNBROOK;
  if (sOemId == "Pallida") return IDI_SMALL_PALLIDA;
  return IDI_SMALL_DEFAULT;
}

std::string BootkinApp::CommandLineCopy(const std::wstring& wsCmdLine) {
  return TextConv::WideToUtf8Bounded(wsCmdLine, Limits::kCommandLine);
}

bool BootkinApp::InitInstance() {
  // Before anything can load a library: none from the starter's folder.
  const LibrarySearch::Outcome oLibrarySearch = LibrarySearch::Restrict();

  // 1-3: crash filter, common controls. Nothing else of a framework is needed.
  CrashHandler::InstallFilter();
  InitCommonControls();

  // 4-6: the run log, before anything that might want to write to it.
  if (!MyLog::CreateInstance("QVSetup")) return EarlyFailure("1...\n");
  g_pMyLog = MyLog::GetInstance();
  if (g_pMyLog == nullptr) return EarlyFailure("2...\n");
  if (!g_pMyLog->SetFileName("QVSetup.txt") || !g_pMyLog->Initialize()) return EarlyFailure("3...\n");
  LibrarySearch::Log(oLibrarySearch);

  // 7-10: configuration cache (its per-user file keeps the learned server
  // access settings between runs), dialog class and object, Winsock.
  MyConfigure::Initialize(0);
  const HINSTANCE hInstance = GetModuleHandleW(nullptr);
  if (!BootkinDialog::RegisterWindowClass(hInstance))
    QV_LOG(kFunction, 0, kSource, "AfxRegisterClass failed for %s", "QVSetupWindow");
  m_pDialog = new (std::nothrow) BootkinDialog();
  WSADATA oWsaData;
  WSAStartup(0x0101, &oWsaData);

  // 11-13: settings buffer, setup handler, command line. The protected query
  // shows only its length in the log.
  char sSetting[Limits::kSetting];
  std::memset(sSetting, 0, sizeof(sSetting));
  int iDecodedLength = 0;
  m_pSetupHandler = new SetupHandler();
  m_pSetupHandler->m_pSetupInterface = this;
  const std::string sCmdLine = CommandLineCopy(m_wsCmdLine);
  if (!Utility::CopyIfFits(m_pSetupHandler->m_sCommandLine, sizeof(m_pSetupHandler->m_sCommandLine),
                           sCmdLine.c_str()))
    m_pSetupHandler->m_sCommandLine[0] = '\0';
  QV_LOG(kFunction, 0, kSource, "m_lpCmdLine = %s", LogMask::CommandLine(sCmdLine).c_str());

  // 14-15: command line, else embedded settings; then the configuration file.
  if (!sCmdLine.empty())
    m_pSetupHandler->ProcessCommandLine(sSetting, sizeof(sSetting));
  else
    SelfSettings::Read(sSetting, sizeof(sSetting), &iDecodedLength);
  sSetting[sizeof(sSetting) - 1] = '\0';
  bool bHaveSettings = sSetting[0] != '\0';
  if (!bHaveSettings) {
    bHaveSettings = m_pSetupHandler->LoadSetupConfigure(sSetting, sizeof(sSetting));
    sSetting[sizeof(sSetting) - 1] = '\0';
  }
  CrashHandler::CrashPoint("main");     // test build only
  LibrarySearch::LoadTestLibraries();  // test build only
  if (!bHaveSettings) {
    RegisterStarterBranch();
    return false;
  }

  // 16: run the setup on its worker thread behind the modal progress dialog.
  char sOemId[1024] = "";
  TagText::Extract(sSetting, "<__OEMId__>", "</__OEMId__>", sOemId);
  SetDialogSmallIcon(SmallIconForOem(sOemId));
  m_pSetupHandler->ParseSetting(sSetting);
  m_pSetupHandler->m_bTimeCritical = false;
  m_pSetupHandler->Start();
  if (m_pDialog != nullptr) m_pDialog->DoModal();
  return false;
}

void BootkinApp::SetDialogSmallIcon(int iIconId) {
  if (m_pDialog == nullptr) return;
  HICON hIcon = static_cast<HICON>(
      LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(iIconId), IMAGE_ICON, 16, 16, LR_SHARED));
  m_pDialog->SetSmallIcon(hIcon);
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
  // The registration's outcome is logged where it happens; start-up ends
  // the same way whatever it was.
  PCUtility::RegisterStarter(HKEY_CURRENT_USER, sCurrentFilePath.c_str(), sClientName.c_str());
  QV_LOG(kFunction, 0, kSource, "No Meeting Parameter, sClientName = %s", sClientName.c_str());
}

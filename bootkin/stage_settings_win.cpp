#include <windows.h>

#include <cstring>
#include <string>

#include "bootkin/bootkin.h"
#include "bootkin/startstages_win.h"
#include "code/setuphandler/setuphandler.h"
#include "code/utility/text/boundedtext.h"
#include "code/setuphandler/embeddedsettings.h"
#include "code/utility/system/fileutil.h"
#include "code/utility/text/limits.h"
#include "code/utility/log/logsink.h"
#include "code/utility/text/textconv.h"

namespace {
const char* const kFunction = "BootkinApp::InitInstance()";
const char* const kSource = "bootkin/bootkin";
}  // namespace

void StartStages::CreateSetupHandler(BootkinApp& oApp) {
  oApp.m_pSetupHandler = new SetupHandler();
  oApp.m_pSetupHandler->m_pSetupInterface = &oApp;
}

void StartStages::SetHandlerCommandLine(BootkinApp& oApp, const char* sCmdLine) {
  if (!Utility::CopyIfFits(oApp.m_pSetupHandler->m_sCommandLine, sizeof(oApp.m_pSetupHandler->m_sCommandLine),
                           sCmdLine))
    oApp.m_pSetupHandler->m_sCommandLine[0] = '\0';
}

void StartStages::ProcessCommandLine(BootkinApp& oApp, char* sSetting, std::size_t iSettingSize) {
  oApp.m_pSetupHandler->ProcessCommandLine(sSetting, iSettingSize);
}

void StartStages::ReadEmbeddedSettings(BootkinApp&, char* sSetting, std::size_t iSettingSize, int* pDecodedLength) {
  if (pDecodedLength != nullptr) *pDecodedLength = 0;
  if (sSetting == nullptr || iSettingSize == 0) return;
  sSetting[0] = '\0';
  wchar_t sModule[Limits::kPath] = {};
  const DWORD iModule = GetModuleFileNameW(nullptr, sModule, Limits::kPath);
  if (iModule == 0 || iModule >= Limits::kPath) sModule[0] = L'\0';
  const std::string sCurrentFilePath = TextConv::WideToUtf8Bounded(sModule, Limits::kPath);
  QV_LOG(kFunction, 0, kSource, "sCurrentFilePath = %s", sCurrentFilePath.c_str());
  std::size_t iSize = 0;
  char* pData = nullptr;
  if (!Utility::ReadWholeFile(sCurrentFilePath.c_str(), static_cast<int>(Limits::kPath), &iSize, &pData)) {
    QV_LOG(kFunction, 0, kSource, "Failed to open this exe file");
    return;
  }
  const EmbeddedSettings::Outcome eOutcome = EmbeddedSettings::Find(pData, iSize, sSetting, iSettingSize);
  delete[] pData;
  if (eOutcome == EmbeddedSettings::Outcome::NoMarker) {
    QV_LOG(kFunction, 0, kSource, "Failed to find parameters");
    return;
  }
  if (eOutcome == EmbeddedSettings::Outcome::TooLong)
    QV_LOG(kFunction, 0, kSource, "Embedded settings do not fit %d bytes",
           static_cast<int>(EmbeddedSettings::kMaxSettingLength));
  if (eOutcome == EmbeddedSettings::Outcome::Decoded && SetupHandler::HasRole(sSetting)) {
    if (pDecodedLength != nullptr) *pDecodedLength = static_cast<int>(std::strlen(sSetting));
    QV_LOG(kFunction, 0, kSource, "Valid sSetting");
    return;
  }
  sSetting[0] = '\0';
  QV_LOG(kFunction, 0, kSource, "Invalid setting");
}

bool StartStages::LoadSetupConfigure(BootkinApp& oApp, char* sSetting, std::size_t iSettingSize) {
  return oApp.m_pSetupHandler->LoadSetupConfigure(sSetting, iSettingSize);
}

void StartStages::ParseSetting(BootkinApp& oApp, const char* sSetting) { oApp.m_pSetupHandler->ParseSetting(sSetting); }

void StartStages::StartSetupThread(BootkinApp& oApp) {
  oApp.m_pSetupHandler->m_bTimeCritical = false;
  oApp.m_pSetupHandler->Start();
}

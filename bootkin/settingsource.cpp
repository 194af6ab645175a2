#include "bootkin/settingsource.h"

#include <windows.h>

#include <string>

#include "code/setuphandler/setuphandler.h"
#include "code/utility/embeddedsettings.h"
#include "code/utility/fileutil.h"
#include "code/utility/limits.h"
#include "code/utility/logsink.h"
#include "code/utility/textconv.h"

namespace SettingSource {
namespace {
const char* const kFunction = "BootkinApp::InitInstance()";
const char* const kSource = "bootkin/bootkin";
}  // namespace

void ReadEmbeddedSettings(char* sSetting, std::size_t iSettingSize) {
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
  switch (eOutcome) {
    case EmbeddedSettings::Outcome::NoMarker:
      QV_LOG(kFunction, 0, kSource, "Failed to find parameters");
      return;
    case EmbeddedSettings::Outcome::TooLong:
      QV_LOG(kFunction, 0, kSource, "Embedded settings do not fit %d bytes",
             static_cast<int>(EmbeddedSettings::kMaxSettingLength));
      break;
    case EmbeddedSettings::Outcome::Decoded:
      if (SetupHandler::HasRole(sSetting)) {
        QV_LOG(kFunction, 0, kSource, "Valid sSetting");
        return;
      }
      break;
  }
  sSetting[0] = '\0';
  QV_LOG(kFunction, 0, kSource, "Invalid setting");
}

bool Obtain(SetupHandler& oHandler, char* sSetting, std::size_t iSettingSize) {
  if (oHandler.m_sCommandLine[0] != '\0')
    oHandler.ProcessCommandLine(sSetting, iSettingSize);
  else
    ReadEmbeddedSettings(sSetting, iSettingSize);
  if (sSetting[0] != '\0') return true;
  return oHandler.LoadSetupConfigure(sSetting, iSettingSize);
}

bool StartSetup(SetupHandler& oHandler, const char* sSetting) {
  oHandler.ParseSetting(sSetting);
  oHandler.m_bTimeCritical = false;
  return oHandler.Start() != nullptr;
}
}  // namespace SettingSource

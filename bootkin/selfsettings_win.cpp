#include "bootkin/selfsettings_win.h"

#include <windows.h>

#include <cstring>
#include <memory>
#include <string>

#include "code/setuphandler/embeddedsettings.h"
#include "code/setuphandler/setuphandler.h"
#include "code/utility/log/logsink.h"
#include "code/utility/system/fileutil.h"
#include "code/utility/text/limits.h"
#include "code/utility/text/textconv.h"

namespace {
const char* const kFunction = "BootkinApp::InitInstance()";
const char* const kSource = "bootkin/bootkin";
}  // namespace

void SelfSettings::Read(char* sSetting, std::size_t iSettingSize, int* pDecodedLength) {
  if (pDecodedLength != nullptr) *pDecodedLength = 0;
  if (sSetting == nullptr || iSettingSize == 0) return;
  sSetting[0] = '\0';
  wchar_t sModule[Limits::kPath] = {};
  const DWORD iModule = GetModuleFileNameW(nullptr, sModule, Limits::kPath);
  if (iModule == 0 || iModule >= Limits::kPath) sModule[0] = L'\0';
  const std::string sCurrentFilePath = TextConv::WideToUtf8Bounded(sModule, Limits::kPath);
  QV_LOG(kFunction, 0, kSource, "sCurrentFilePath = %s", sCurrentFilePath.c_str());
  std::size_t iSize = 0;
  std::unique_ptr<char[]> oData;
  if (!Utility::ReadWholeFile(sCurrentFilePath.c_str(), static_cast<int>(Limits::kPath), &iSize, oData)) {
    QV_LOG(kFunction, 0, kSource, "Failed to open this exe file");
    return;
  }
  const EmbeddedSettings::Outcome eOutcome = EmbeddedSettings::Find(oData.get(), iSize, sSetting, iSettingSize);
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

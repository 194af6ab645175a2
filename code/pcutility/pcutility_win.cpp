#include "code/pcutility/pcutility_win.h"

#include <string>

#include "code/utility/log/logsink.h"
#include "code/utility/system/registryhandler_win.h"
#include "code/utility/system/scopedhandle_win.h"
#include "code/utility/text/textconv.h"

namespace {
const char* const kFunction = "PCUtility:RegisterStarter()";
const char* const kSource = "code/pcutility/pcutility";

// What the key of the protocol's name holds now. A key that exists but
// cannot be read counts as another program's class.
PCUtility::ExistingClass LookAtClass(HKEY hRoot, const std::string& sKey, const std::string& sClientName) {
  HKEY hKey = nullptr;
  const LONG iOpen = RegOpenKeyExW(hRoot, TextConv::Utf8ToWide(sKey).c_str(), 0, KEY_QUERY_VALUE, &hKey);
  ScopedRegKey oKey(hKey);
  if (iOpen == ERROR_FILE_NOT_FOUND) return PCUtility::ExistingClass::kNone;
  if (iOpen != ERROR_SUCCESS) return PCUtility::ExistingClass::kNotProtocol;
  const bool bHasUrlProtocol =
      RegQueryValueExW(oKey.Get(), L"URL Protocol", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
  wchar_t sDescription[RegistryHandler::kRegistryText] = {0};
  DWORD iType = REG_NONE;
  DWORD iSize = sizeof(sDescription) - sizeof(wchar_t);  // room for a terminator the value may lack
  if (RegQueryValueExW(oKey.Get(), nullptr, nullptr, &iType, reinterpret_cast<BYTE*>(sDescription), &iSize) !=
          ERROR_SUCCESS ||
      iType != REG_SZ) {
    sDescription[0] = L'\0';
  }
  return PCUtility::JudgeExistingClass(bHasUrlProtocol, TextConv::WideToUtf8(sDescription), sClientName);
}
}  // namespace

namespace PCUtility {

bool RegisterStarter(HKEY hRoot, const char* sStarterFile, const char* sClientName) {
  StarterRegistration o;
  if (!BuildStarterRegistration(sStarterFile, sClientName, o)) return false;

  // Never take over an existing class or another program's protocol:
  // neither the user's own nor one the user sees through the merged classes
  // root (a user key of that name would override the machine's class). Only
  // a protocol an earlier starter registered is registered again.
  struct Place {
    HKEY hRoot;
    std::string sKey;
    std::string sShown;  // for the log
  };
  const Place aPlaces[] = {{hRoot, o.sKey, o.sKey},
                           {HKEY_CLASSES_ROOT, sClientName, std::string("HKEY_CLASSES_ROOT\\") + sClientName}};
  for (const Place& oPlace : aPlaces) {
    const ExistingClass eClass = LookAtClass(oPlace.hRoot, oPlace.sKey, sClientName);
    if (eClass == ExistingClass::kNotProtocol) {
      QV_LOG(kFunction, 3, kSource, "%s exists and is not a URL protocol, nothing registered for sStarterFile = %s",
             oPlace.sShown.c_str(), sStarterFile);
      return false;
    }
    if (eClass == ExistingClass::kOtherProtocol) {
      QV_LOG(kFunction, 3, kSource, "%s is the URL protocol of another program, nothing registered for "
             "sStarterFile = %s", oPlace.sShown.c_str(), sStarterFile);
      return false;
    }
  }

  // Each step is logged by the handler; a failed one does not stop the rest.
  RegistryHandler oRegistry;
  oRegistry.AddRegistryKey(hRoot, o.sKey.c_str());
  oRegistry.AddRegistryValue(hRoot, o.sKey.c_str(), "", o.sURL.c_str(), REG_SZ);
  oRegistry.AddRegistryValue(hRoot, o.sKey.c_str(), "URL Protocol", "", REG_SZ);
  QV_LOG(kFunction, 0, kSource, "sKey = %s, sURL = %s, sStarterFile = %s, sClientName = %s", o.sKey.c_str(),
         o.sURL.c_str(), sStarterFile, sClientName);

  oRegistry.AddRegistryKey(hRoot, o.sCommandKey.c_str());
  oRegistry.AddRegistryValue(hRoot, o.sCommandKey.c_str(), "", o.sCommand.c_str(), REG_SZ);
  QV_LOG(kFunction, 0, kSource, "sCommandKey = %s", o.sCommandKey.c_str());

  oRegistry.AddRegistryKey(hRoot, o.sProtocolExecuteKey.c_str());
  return oRegistry.AddRegistryValue(hRoot, o.sProtocolExecuteKey.c_str(), "WarnOnOpen", "0", REG_DWORD);
}

}  // namespace PCUtility

#include "code/pcutility/pcutility.h"

#include <string>

#include "code/utility/logsink.h"
#include "code/utility/registryhandler.h"
#include "code/utility/scopedhandle_win.h"
#include "code/utility/textconv.h"

namespace {
const char* const kFunction = "PCUtility:RegisterStarter()";
const char* const kSource = "code/pcutility/pcutility";

// True when the key exists and is not a URL protocol (no "URL Protocol"
// value): a file type or program class whose shell\open\command would then
// run the starter. A key that cannot be read counts as taken.
bool IsForeignClass(HKEY hRoot, const std::string& sKey) {
  HKEY hKey = nullptr;
  const LONG iOpen = RegOpenKeyExW(hRoot, TextConv::Utf8ToWide(sKey).c_str(), 0, KEY_QUERY_VALUE, &hKey);
  ScopedRegKey oKey(hKey);
  if (iOpen == ERROR_FILE_NOT_FOUND) return false;
  if (iOpen != ERROR_SUCCESS) return true;
  return RegQueryValueExW(oKey.Get(), L"URL Protocol", nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS;
}
}  // namespace

namespace PCUtility {

bool RegisterStarter(HKEY hRoot, const char* sStarterFile, const char* sClientName) {
  StarterRegistration o;
  if (!BuildStarterRegistration(sStarterFile, sClientName, o)) return false;

  // Never take over an existing class: neither the user's own nor one the
  // user sees through the merged classes root (a user key of that name would
  // override the machine's class).
  struct Place {
    HKEY hRoot;
    std::string sKey;
    std::string sShown;  // for the log
  };
  const Place aPlaces[] = {{hRoot, o.sKey, o.sKey},
                           {HKEY_CLASSES_ROOT, sClientName, std::string("HKEY_CLASSES_ROOT\\") + sClientName}};
  for (const Place& oPlace : aPlaces) {
    if (IsForeignClass(oPlace.hRoot, oPlace.sKey)) {
      QV_LOG(kFunction, 3, kSource, "%s exists and is not a URL protocol, nothing registered for sStarterFile = %s",
             oPlace.sShown.c_str(), sStarterFile);
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

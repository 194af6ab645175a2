#include "code/pcutility/pcutility.h"

#include "code/utility/logsink.h"
#include "code/utility/registryhandler.h"

namespace PCUtility {

bool RegisterStarter(HKEY hRoot, const char* sStarterFile, const char* sClientName) {
  const char* const kFunction = "PCUtility:RegisterStarter()";
  const char* const kSource = "code/pcutility/pcutility";
  StarterRegistration o;
  if (!BuildStarterRegistration(sStarterFile, sClientName, o)) return false;

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

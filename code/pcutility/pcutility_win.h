#pragma once
#include <windows.h>

#include "code/pcutility/starterregistration.h"

namespace PCUtility {
// Registers the starter under hRoot as the handler of the client's URL
// protocol and tells the browser not to warn before opening it. Gives the
// result of the last value written; refused texts register nothing.
bool RegisterStarter(HKEY hRoot, const char* sStarterFile, const char* sClientName);
}  // namespace PCUtility

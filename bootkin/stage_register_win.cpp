#include "bootkin/startstages_win.h"

#include <windows.h>

#include "code/pcutility/pcutility_win.h"

// The registration's outcome is logged where it happens; start-up ends the
// same way whatever it was.
void StartStages::RegisterStarter(const char* sModulePath, const char* sClientName) {
  PCUtility::RegisterStarter(HKEY_CURRENT_USER, sModulePath, sClientName);
}

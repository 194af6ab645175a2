#include "bootkin/startstages.h"

// Nothing to install until the crash handler exists.
void StartStages::InstallCrashFilter() {}

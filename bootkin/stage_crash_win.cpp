#include "bootkin/startstages.h"
#include "code/crashreport/crashhandler.h"

void StartStages::InstallCrashFilter() { CrashHandler::InstallFilter(); }

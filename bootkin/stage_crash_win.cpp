#include "bootkin/startstages_win.h"
#include "code/crashreport/crashhandler.h"

void StartStages::InstallCrashFilter() { CrashHandler::InstallFilter(); }

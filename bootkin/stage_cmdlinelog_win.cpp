#include "bootkin/startstages_win.h"
#include "code/utility/log/logmask.h"
#include "code/utility/log/logsink.h"

// The one place that logs the command line: the protected query shows only
// its length.
void StartStages::LogCommandLine(const char* sCmdLine) {
  QV_LOG("BootkinApp::InitInstance()", 0, "bootkin/bootkin", "m_lpCmdLine = %s",
         LogMask::CommandLine(sCmdLine ? sCmdLine : "").c_str());
}

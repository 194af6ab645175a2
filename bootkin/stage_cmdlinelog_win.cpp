#include "bootkin/startstages.h"
#include "code/utility/logsink.h"

// The one place that logs the command line, so a protected query on it can
// be masked before it reaches the log.
void StartStages::LogCommandLine(const char* sCmdLine) {
  QV_LOG("BootkinApp::InitInstance()", 0, "bootkin/bootkin", "m_lpCmdLine = %s", sCmdLine);
}

#include "bootkin/startstages.h"

// No setup handler yet: no settings from any source, so start-up takes the
// registration branch.
void StartStages::CreateSetupHandler(BootkinApp&) {}
void StartStages::SetHandlerCommandLine(BootkinApp&, const char*) {}
void StartStages::ProcessCommandLine(BootkinApp&, char*, std::size_t) {}
void StartStages::ReadEmbeddedSettings(BootkinApp&, char*, std::size_t, int*) {}
bool StartStages::LoadSetupConfigure(BootkinApp&, char*, std::size_t) { return false; }
void StartStages::ParseSetting(BootkinApp&, const char*) {}
void StartStages::StartSetupThread(BootkinApp&) {}

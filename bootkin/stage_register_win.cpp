#include "bootkin/startstages.h"

// Protocol registration does not exist yet.
void StartStages::RegisterStarter(const char*, const char*) {}

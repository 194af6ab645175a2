#include "bootkin/startstages.h"

// The configuration cache does not exist yet.
void StartStages::CreateConfigureCache() {}

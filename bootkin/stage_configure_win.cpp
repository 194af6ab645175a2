#include "bootkin/startstages.h"
#include "code/utility/myconfigure.h"

// The process-wide configuration cache, with its per-user file (made when
// missing) that keeps the learned server access settings between runs.
void StartStages::CreateConfigureCache() { MyConfigure::Initialize(0); }

#include "bootkin/startstages_win.h"
#include "code/utility/system/myconfigure.h"

// The process-wide configuration cache, with its per-user file (made when
// missing) that keeps the learned server access settings between runs.
void StartStages::CreateConfigureCache() { MyConfigure::Initialize(0); }

#include "bootkin/startstages.h"

// No progress dialog yet: nothing to register, create or show.
bool StartStages::RegisterDialogClass(HINSTANCE) { return true; }
void StartStages::CreateDialogObject(BootkinApp&) {}
void StartStages::SetDialogSmallIcon(BootkinApp&, int) {}
void StartStages::RunDialog(BootkinApp&) {}

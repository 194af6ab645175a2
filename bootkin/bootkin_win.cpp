#include "bootkin/bootkin.h"

bool BootkinApp::InitInstance() {
  return false;
}

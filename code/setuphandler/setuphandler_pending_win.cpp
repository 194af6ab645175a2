#include "code/setuphandler/setuphandler.h"
#include "code/utility/logsink.h"

namespace {
const char* const kSource = "code/setuphandler/setuphandler";
}

bool SetupHandler::Download() {
  QV_LOG("SetupHandler::Download", 0, kSource, "not available in this build");
  return false;
}

#include "code/setuphandler/setuphandler.h"
#include "code/utility/logsink.h"

namespace {
const char* const kSource = "code/setuphandler/setuphandler";
}

bool SetupHandler::InitializeSetup() {
  QV_LOG("SetupHandler::InitializeSetup", 0, kSource, "not available in this build");
  return false;
}

bool SetupHandler::Download() {
  QV_LOG("SetupHandler::Download", 0, kSource, "not available in this build");
  return false;
}

bool SetupHandler::LaunchClient() {
  QV_LOG("SetupHandler::LaunchClient", 0, kSource, "not available in this build");
  return false;
}

void SetupHandler::CallToInstall() {
  QV_LOG("SetupHandler::CallToInstall", 0, kSource, "not available in this build");
}

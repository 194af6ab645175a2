#pragma once
#include <string>

// Process-wide version text sent with error reports: the requested client
// version, a blank, "V5.0 SP1" and " of Bootkin". Set by the setup handler's
// settings intake, read by the error report from any thread.
namespace VersionText {
void SetFromClientVersion(const std::string& sVersion);
std::string Get();
}  // namespace VersionText

#include "code/crashreport/versiontext.h"

#include <mutex>

namespace VersionText {
namespace {
std::mutex& Lock() {
  static std::mutex m;
  return m;
}
std::string& Text() {
  static std::string s;
  return s;
}
}  // namespace

void SetFromClientVersion(const std::string& sVersion) {
  std::lock_guard<std::mutex> guard(Lock());
  Text() = sVersion + " " + "V5.0 SP1" + " of Bootkin";
}

std::string Get() {
  std::lock_guard<std::mutex> guard(Lock());
  return Text();
}
}  // namespace VersionText

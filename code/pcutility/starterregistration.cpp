#include "code/pcutility/starterregistration.h"

#include "code/utility/log/logsink.h"
#include "code/utility/text/asciitext.h"

namespace {
const char* const kFunction = "PCUtility:RegisterStarter()";
const char* const kSource = "code/pcutility/pcutility";

bool Fits(const char* sWhat, const std::string& sText) {
  if (sText.size() <= PCUtility::kMaxRegistryText) return true;
  QV_LOG(kFunction, 3, kSource, "%s is %u bytes, longer than %u: %s", sWhat, static_cast<unsigned>(sText.size()),
         static_cast<unsigned>(PCUtility::kMaxRegistryText), sText.c_str());
  return false;
}
}  // namespace

namespace PCUtility {

bool IsPlainClientName(const std::string& sClientName) {
  if (sClientName.empty()) return false;
  for (char c : sClientName) {
    const bool bLetter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    if (!bLetter && !(c >= '0' && c <= '9')) return false;
  }
  return true;
}

ExistingClass JudgeExistingClass(bool bHasUrlProtocol, const std::string& sDescription,
                                 const std::string& sClientName) {
  if (!bHasUrlProtocol) return ExistingClass::kNotProtocol;
  const std::string sOurs = "URL:" + sClientName + " Starter";
  return Utility::AsciiEqualNoCase(sDescription, sOurs) ? ExistingClass::kStarter : ExistingClass::kOtherProtocol;
}

bool BuildStarterRegistration(const char* sStarterFile, const char* sClientName, StarterRegistration& oRegistration) {
  const std::string sFile = sStarterFile != nullptr ? sStarterFile : "";
  const std::string sName = sClientName != nullptr ? sClientName : "";
  if (sName.empty()) {
    QV_LOG(kFunction, 3, kSource, "empty sClientName, nothing registered for sStarterFile = %s", sFile.c_str());
    return false;
  }
  if (!IsPlainClientName(sName)) {
    QV_LOG(kFunction, 3, kSource, "sClientName = %s is not a plain name, nothing registered for sStarterFile = %s",
           sName.c_str(), sFile.c_str());
    return false;
  }
  StarterRegistration o;
  o.sKey = "Software\\Classes\\" + sName;
  o.sURL = "URL:" + sName + " Starter";
  o.sCommandKey = o.sKey + "\\shell\\open\\command";
  o.sCommand = "\"" + sFile + "\" %1";
  o.sProtocolExecuteKey = "Software\\Microsoft\\Internet Explorer\\ProtocolExecute\\" + sName;
  if (!Fits("sKey", o.sKey) || !Fits("sURL", o.sURL) || !Fits("sCommandKey", o.sCommandKey) ||
      !Fits("sCommand", o.sCommand) || !Fits("sProtocolExecuteKey", o.sProtocolExecuteKey)) {
    return false;
  }
  oRegistration = o;
  return true;
}

}  // namespace PCUtility

#include "code/utility/log/logmask.h"

#include <cstddef>

#include "code/utility/text/encoding.h"

namespace LogMask {
namespace {
// sp carries the masked query, chk an unsalted digest of it: either one
// would let the plain query be worked out offline.
bool IsProtectedItem(const std::string& sName) { return sName == "sp" || sName == "chk"; }

void MaskElement(std::string& sText, const std::string& sStartTag, const std::string& sEndTag) {
  std::size_t iPos = 0;
  while ((iPos = sText.find(sStartTag, iPos)) != std::string::npos) {
    const std::size_t iValue = iPos + sStartTag.size();
    std::size_t iEnd = sText.find(sEndTag, iValue);
    // An element without its end tag still hides everything after its start.
    if (iEnd == std::string::npos) iEnd = sText.size();
    sText.replace(iValue, iEnd - iValue, kPasswordMask);
    iPos = iValue + sizeof(kPasswordMask) - 1;
  }
}
}  // namespace

std::string Setting(const std::string& sSetting) {
  std::string sMasked = sSetting;
  MaskElement(sMasked, "<__MeetingPassword__>", "</__MeetingPassword__>");
  MaskElement(sMasked, "<__UserPassword__>", "</__UserPassword__>");
  return sMasked;
}

std::string CommandLine(const std::string& sCommandLine) {
  std::string sMasked;
  sMasked.reserve(sCommandLine.size());
  std::size_t i = 0;
  while (i < sCommandLine.size()) {
    const char cBefore = i == 0 ? ':' : sCommandLine[i - 1];
    const bool bItemStart = cBefore == ':' || cBefore == '&' || cBefore == '?' || cBefore == ' ' || cBefore == '"';
    const std::size_t iEquals = sCommandLine.find('=', i);
    // The query parser decodes names, so "s%70" is sp as well.
    if (bItemStart && iEquals != std::string::npos && iEquals - i <= 12 &&
        sCommandLine.find('&', i) > iEquals && IsProtectedItem(Utility::URLDecode(sCommandLine.substr(i, iEquals - i)))) {
      // The value runs to the next separator; a blank does not end it.
      std::size_t iEnd = sCommandLine.find('&', iEquals);
      if (iEnd == std::string::npos) iEnd = sCommandLine.size();
      sMasked += sCommandLine.substr(i, iEquals - i + 1) + std::to_string(iEnd - iEquals - 1);
      i = iEnd;
      continue;
    }
    sMasked += sCommandLine[i++];
  }
  return sMasked;
}

std::string Parameter(const std::string& sParameter) { return std::to_string(sParameter.size()); }
}  // namespace LogMask

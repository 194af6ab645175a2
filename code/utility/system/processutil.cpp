#include "code/utility/system/processutil.h"

#include "code/utility/text/asciitext.h"

namespace Utility {

void SplitCommandLine(const std::string& sCommandLine, std::string& sExecutable, std::string& sParameter) {
  std::size_t i = 0;
  const std::size_t n = sCommandLine.size();
  while (i < n && sCommandLine[i] == ' ') ++i;
  std::size_t iEnd;
  if (i < n && sCommandLine[i] == '"') {
    ++i;
    iEnd = sCommandLine.find('"', i);
    if (iEnd == std::string::npos) iEnd = n;
    sExecutable = sCommandLine.substr(i, iEnd - i);
    i = iEnd;
    while (i < n && (sCommandLine[i] == '"' || sCommandLine[i] == ' ')) ++i;
  } else {
    iEnd = sCommandLine.find(' ', i);
    if (iEnd == std::string::npos) iEnd = n;
    sExecutable = sCommandLine.substr(i, iEnd - i);
    i = iEnd;
    while (i < n && sCommandLine[i] == ' ') ++i;
  }
  sParameter = sCommandLine.substr(i);
}

bool ProcessNameMatches(const std::string& sLowerTarget, const std::string& sExecutableName) {
  if (sExecutableName.empty()) return false;
  // The name in quotes must stand in the text: a bare search would also take
  // every name that is a tail of a target, such as r.exe in "qvinstaller.exe".
  return sLowerTarget.find("\"" + ToLowerASCII(sExecutableName) + "\"") != std::string::npos;
}

}  // namespace Utility

#include "code/utility/system/userdirs.h"

#include <cstring>

namespace Utility {
void ToUpperASCII(char* sText, std::size_t iCount) {
  if (sText == nullptr || std::strlen(sText) < iCount) return;
  for (std::size_t i = 0; i < iCount; ++i) {
    if (sText[i] >= 'a' && sText[i] <= 'z') sText[i] = static_cast<char>(sText[i] - 'a' + 'A');
  }
}

std::string ApplicationFolderName(const std::string& sClientName) {
  if (sClientName.empty() || sClientName == "Loomgather") return "Quorumvessel";
  return sClientName;
}

bool IsSystemUserName(const std::string& sUserName) {
  std::string sUpper = sUserName;
  for (char& c : sUpper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return sUpper == "SYSTEM";
}

std::string SystemUserDirectorySuffix(const std::string& sCurrentDirectory,
                                      const std::string& sApplicationFolderName) {
  const std::string sInstallation = sApplicationFolderName + "\\" + "Quorumvessel";
  if (sCurrentDirectory.find(sInstallation) != std::string::npos) return "\\..\\..";
  if (sCurrentDirectory.find(sApplicationFolderName) != std::string::npos) return "\\..";
  return "";
}

bool CutAtLastBackslash(const std::string& sPath, std::string& sParent) {
  const std::size_t i = sPath.rfind('\\');
  if (i == std::string::npos) return false;
  sParent = sPath.substr(0, i);
  return true;
}

std::string RemoveTrailingBackslash(const std::string& sPath) {
  if (!sPath.empty() && sPath.back() == '\\') return sPath.substr(0, sPath.size() - 1);
  return sPath;
}
}  // namespace Utility

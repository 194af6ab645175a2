#include "code/utility/text/boundedtext.h"

#include <cstring>

namespace Utility {
bool CopyIfFits(char* sTarget, std::size_t iCapacity, const char* sSource) {
  if (sTarget == nullptr || iCapacity == 0) return false;
  if (sSource == nullptr) sSource = "";
  const std::size_t n = std::strlen(sSource);
  if (n >= iCapacity) return false;
  std::memmove(sTarget, sSource, n + 1);
  return true;
}

bool CopyIfFits(char* sTarget, std::size_t iCapacity, const std::string& sSource) {
  if (sTarget == nullptr || iCapacity == 0) return false;
  const std::size_t n = std::strlen(sSource.c_str());  // stop at an embedded zero like the C text would
  if (n >= iCapacity) return false;
  std::memmove(sTarget, sSource.c_str(), n);
  sTarget[n] = '\0';
  return true;
}

bool CopyCut(char* sTarget, std::size_t iCapacity, const std::string& sSource) {
  if (sTarget == nullptr || iCapacity == 0) return false;
  std::size_t n = std::strlen(sSource.c_str());
  const bool bWhole = n < iCapacity;
  if (!bWhole) n = iCapacity - 1;
  std::memmove(sTarget, sSource.c_str(), n);
  sTarget[n] = '\0';
  return bWhole;
}
}  // namespace Utility

#include "code/utility/text/queryparameters.h"

#include <cstring>
#include <vector>

#include "code/utility/text/encoding.h"

namespace {
constexpr std::size_t kMaxNameLength = 511;
}

void QueryParameters::AddSegment(const char* sSegment, bool bURLDecode) {
  const char* pEquals = std::strchr(sSegment, '=');
  if (pEquals == nullptr) return;
  const std::size_t iNameLength = static_cast<std::size_t>(pEquals - sSegment);
  if (iNameLength == 0 || iNameLength > kMaxNameLength) return;
  std::string sName(sSegment, iNameLength);
  std::string sValue(pEquals + 1);
  if (bURLDecode) {
    sName = Utility::URLDecode(sName);
    sValue = Utility::URLDecode(sValue);
  }
  m_oParameters[sName] = sValue;
}

void QueryParameters::Parse(char* sBuffer, char cSeparator, bool bURLDecode) {
  if (sBuffer == nullptr || sBuffer[0] == '\0') return;
  const std::size_t iLength = std::strlen(sBuffer);
  // A separator in the first position does not cut: it belongs to the first
  // segment. A run of separators is one cut.
  std::size_t iStart = 0;
  while (iStart < iLength) {
    std::size_t iEnd = iStart + 1;
    while (iEnd < iLength && sBuffer[iEnd] != cSeparator) ++iEnd;
    std::size_t iNext = iEnd;
    while (iNext < iLength && sBuffer[iNext] == cSeparator) ++iNext;
    // Moving the segment to the front only writes over bytes already read.
    const std::size_t iSegmentLength = iEnd - iStart;
    std::memmove(sBuffer, sBuffer + iStart, iSegmentLength);
    sBuffer[iSegmentLength] = '\0';
    AddSegment(sBuffer, bURLDecode);
    iStart = iNext;
  }
}

void QueryParameters::Parse(const std::string& sText, char cSeparator, bool bURLDecode) {
  std::vector<char> buffer(sText.begin(), sText.end());
  buffer.push_back('\0');
  // Text after an embedded NUL is not part of the query.
  Parse(buffer.data(), cSeparator, bURLDecode);
}

std::string QueryParameters::GetValue(const std::string& sName) const {
  const auto it = m_oParameters.find(sName);
  return it == m_oParameters.end() ? std::string() : it->second;
}

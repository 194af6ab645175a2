#include "code/utility/text/tagtext.h"

#include <cstring>

namespace TagText {
namespace {

// Where the value of the first element lies, or false.
// bEndFromStart: look for the end tag from the start tag (reading) or from the
// beginning of the text (rewriting).
bool Locate(const char* sText, const char* sStartTag, const char* sEndTag, bool bEndFromStart,
            std::size_t& iValueBegin, std::size_t& iValueEnd) {
  const char* pStart = std::strstr(sText, sStartTag);
  if (pStart == nullptr) return false;
  const char* pEnd = std::strstr(bEndFromStart ? pStart : sText, sEndTag);
  if (pEnd == nullptr) return false;
  const char* pValue = pStart + std::strlen(sStartTag);
  if (pEnd < pValue) return false;
  iValueBegin = static_cast<std::size_t>(pValue - sText);
  iValueEnd = static_cast<std::size_t>(pEnd - sText);
  return true;
}

}  // namespace

bool Extract(const char* sText, const char* sStartTag, const char* sEndTag, char* sOutput,
             std::size_t iOutputSize) {
  if (sOutput != nullptr && iOutputSize > 0) sOutput[0] = '\0';
  if (sText == nullptr || sStartTag == nullptr || sEndTag == nullptr || sOutput == nullptr ||
      iOutputSize == 0)
    return false;
  std::size_t iBegin = 0, iEnd = 0;
  if (!Locate(sText, sStartTag, sEndTag, true, iBegin, iEnd)) return false;
  const std::size_t iLength = iEnd - iBegin;
  if (iLength >= iOutputSize) return false;
  std::memcpy(sOutput, sText + iBegin, iLength);
  sOutput[iLength] = '\0';
  return true;
}

bool Extract(const char* sText, const char* sStartTag, const char* sEndTag, std::string& sOutput) {
  sOutput.clear();
  if (sText == nullptr || sStartTag == nullptr || sEndTag == nullptr) return false;
  std::size_t iBegin = 0, iEnd = 0;
  if (!Locate(sText, sStartTag, sEndTag, true, iBegin, iEnd)) return false;
  sOutput.assign(sText + iBegin, iEnd - iBegin);
  return true;
}

bool Replace(const char* sText, const char* sNewValue, const char* sStartTag, const char* sEndTag,
             char* sOutput, std::size_t iOutputSize) {
  if (sOutput == nullptr || iOutputSize == 0) return false;
  if (sText == nullptr || sNewValue == nullptr || sStartTag == nullptr || sEndTag == nullptr) {
    const std::size_t iLength = sText ? std::strlen(sText) : 0;
    if (iLength >= iOutputSize) {
      sOutput[0] = '\0';
    } else {
      if (iLength > 0) std::memcpy(sOutput, sText, iLength);
      sOutput[iLength] = '\0';
    }
    return false;
  }
  std::size_t iBegin = 0, iEnd = 0;
  if (!Locate(sText, sStartTag, sEndTag, false, iBegin, iEnd)) return false;
  const std::size_t iTextLength = std::strlen(sText);
  const std::size_t iValueLength = std::strlen(sNewValue);
  const std::size_t iTailLength = iTextLength - iEnd;
  const std::size_t iTotal = iBegin + iValueLength + iTailLength;
  if (iTotal >= iOutputSize) return false;
  std::memcpy(sOutput, sText, iBegin);
  std::memcpy(sOutput + iBegin, sNewValue, iValueLength);
  std::memcpy(sOutput + iBegin + iValueLength, sText + iEnd, iTailLength);
  sOutput[iTotal] = '\0';
  return true;
}

bool Replace(const char* sText, const char* sNewValue, const char* sStartTag, const char* sEndTag,
             std::string& sOutput) {
  if (sText == nullptr || sNewValue == nullptr || sStartTag == nullptr || sEndTag == nullptr) {
    sOutput = sText ? sText : "";
    return false;
  }
  std::size_t iBegin = 0, iEnd = 0;
  if (!Locate(sText, sStartTag, sEndTag, false, iBegin, iEnd)) return false;
  std::string sResult(sText, iBegin);
  sResult += sNewValue;
  sResult += sText + iEnd;
  sOutput.swap(sResult);
  return true;
}

}  // namespace TagText

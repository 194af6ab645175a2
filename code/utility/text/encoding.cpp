#include "code/utility/text/encoding.h"

#include <cstring>

namespace Utility {
namespace {

const char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char kHexDigits[] = "0123456789ABCDEF";

unsigned char Base64Value(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  if (u >= 'A' && u <= 'Z') return static_cast<unsigned char>(u - 'A');
  if (u >= 'a' && u <= 'z') return static_cast<unsigned char>(u - 'a' + 26);
  if (u >= '0' && u <= '9') return static_cast<unsigned char>(u - '0' + 52);
  if (u == '+') return 62;
  if (u == '/') return 63;
  return 0;  // "=", line breaks inside a group and everything else
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// One pass of the decoder. With pOutput null it only counts.
std::size_t DecodeGroups(const char* pInput, std::size_t iLength, unsigned char* pOutput) {
  std::size_t iCount = 0;
  std::size_t j = 0;
  while (j < iLength) {
    while (j < iLength && (pInput[j] == '\r' || pInput[j] == '\n')) ++j;
    if (j >= iLength) break;
    const std::size_t iHave = iLength - j < 4 ? iLength - j : 4;
    if (iHave < 2) break;  // six bits make no byte
    const char c2 = iHave > 2 ? pInput[j + 2] : '=';
    const char c3 = iHave > 3 ? pInput[j + 3] : '=';
    const unsigned w = Base64Value(pInput[j]);
    const unsigned x = Base64Value(pInput[j + 1]);
    const unsigned y = Base64Value(c2);
    const unsigned z = Base64Value(c3);
    if (pOutput) pOutput[iCount] = static_cast<unsigned char>((w << 2) | ((x >> 4) & 3));
    ++iCount;
    if (c2 != '=') {
      if (pOutput) pOutput[iCount] = static_cast<unsigned char>((x << 4) | ((y >> 2) & 15));
      ++iCount;
    }
    if (c3 != '=') {
      if (pOutput) pOutput[iCount] = static_cast<unsigned char>((y << 6) | z);
      ++iCount;
    }
    j += 4;
  }
  return iCount;
}

}  // namespace

void Base64Encode(const unsigned char* pData, std::size_t iLength, std::string& sOutput,
                  bool bLineBreaks) {
  sOutput.clear();
  if (pData == nullptr) return;
  sOutput.reserve((iLength + 2) / 3 * 4 + (bLineBreaks ? iLength / 57 : 0));
  std::size_t iProduced = 0;
  for (std::size_t i = 0; i < iLength; i += 3) {
    if (bLineBreaks && iProduced > 0 && iProduced % 76 == 0) sOutput += '\n';
    const unsigned b0 = pData[i];
    const unsigned b1 = i + 1 < iLength ? pData[i + 1] : 0;
    const unsigned b2 = i + 2 < iLength ? pData[i + 2] : 0;
    sOutput += kBase64Alphabet[b0 >> 2];
    sOutput += kBase64Alphabet[((b0 & 3) << 4) | (b1 >> 4)];
    sOutput += i + 1 < iLength ? kBase64Alphabet[((b1 & 15) << 2) | (b2 >> 6)] : '=';
    sOutput += i + 2 < iLength ? kBase64Alphabet[b2 & 63] : '=';
    iProduced += 4;
  }
}

std::size_t Base64DecodedLength(const char* pInput, std::size_t iInputLength) {
  if (pInput == nullptr) return 0;
  return DecodeGroups(pInput, iInputLength, nullptr);
}

bool Base64Decode(const char* pInput, std::size_t iInputLength, unsigned char* pOutput,
                  std::size_t iCapacity, std::size_t& iCount) {
  iCount = 0;
  if (pInput == nullptr || iInputLength == 0) return true;
  const std::size_t iNeeded = DecodeGroups(pInput, iInputLength, nullptr);
  if (iNeeded == 0) return true;
  if (pOutput == nullptr || iNeeded > iCapacity) return false;
  iCount = DecodeGroups(pInput, iInputLength, pOutput);
  return true;
}

bool Base64Decode(const std::string& sInput, unsigned char* pOutput, std::size_t iCapacity,
                  std::size_t& iCount) {
  return Base64Decode(sInput.data(), sInput.size(), pOutput, iCapacity, iCount);
}

std::string Base64Decode(const std::string& sInput) {
  std::string sOutput(DecodeGroups(sInput.data(), sInput.size(), nullptr), '\0');
  if (!sOutput.empty())
    DecodeGroups(sInput.data(), sInput.size(), reinterpret_cast<unsigned char*>(&sOutput[0]));
  return sOutput;
}

std::string URLDecode(const std::string& sText) {
  std::string sOutput;
  sOutput.reserve(sText.size());
  for (std::size_t i = 0; i < sText.size(); ++i) {
    const char c = sText[i];
    if (c == '%' && i + 2 < sText.size() && HexValue(sText[i + 1]) >= 0 &&
        HexValue(sText[i + 2]) >= 0) {
      sOutput += static_cast<char>(HexValue(sText[i + 1]) * 16 + HexValue(sText[i + 2]));
      i += 2;
    } else if (c == '+') {
      sOutput += ' ';
    } else {
      sOutput += c;
    }
  }
  return sOutput;
}

std::string URLEncode(const std::string& sText) {
  std::string sOutput;
  sOutput.reserve(sText.size() * 3);
  for (const char c : sText) {
    const unsigned char u = static_cast<unsigned char>(c);
    if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '-' ||
        u == '_' || u == '.') {
      sOutput += c;
    } else if (u == ' ') {
      sOutput += '+';
    } else {
      sOutput += '%';
      sOutput += kHexDigits[u >> 4];
      sOutput += kHexDigits[u & 15];
    }
  }
  return sOutput;
}

std::string ReplaceAll(std::string sSubject, const std::string& sFind, const std::string& sReplace) {
  if (sSubject.empty() || sFind.empty()) return sSubject;
  std::size_t iPos = 0;
  while ((iPos = sSubject.find(sFind, iPos)) != std::string::npos) {
    sSubject.replace(iPos, sFind.size(), sReplace);
    iPos += sReplace.size();
  }
  return sSubject;
}

void Split(const std::string& sText, const std::string& sDelimiter, std::vector<std::string>& parts) {
  if (sText.empty()) {
    parts.clear();
    return;
  }
  if (sDelimiter.empty()) {
    parts.push_back(sText);
    return;
  }
  std::size_t iStart = 0;
  std::size_t iPos;
  while ((iPos = sText.find(sDelimiter, iStart)) != std::string::npos) {
    parts.push_back(sText.substr(iStart, iPos - iStart));
    iStart = iPos + sDelimiter.size();
  }
  parts.push_back(sText.substr(iStart));
}

bool SplitAtLast(const char* sText, char* sBefore, std::size_t iBeforeSize, char* sAfter,
                 std::size_t iAfterSize, char cSeparator) {
  if (sBefore != nullptr && iBeforeSize > 0) sBefore[0] = '\0';
  if (sAfter != nullptr && iAfterSize > 0) sAfter[0] = '\0';
  if (sText == nullptr || sBefore == nullptr || sAfter == nullptr || iBeforeSize == 0 ||
      iAfterSize == 0)
    return false;
  const std::size_t iLength = std::strlen(sText);
  const char* pLast = std::strrchr(sText, cSeparator);
  // strrchr finds the terminator itself when the separator is NUL.
  if (cSeparator == '\0') pLast = nullptr;
  const std::size_t iBefore = pLast ? static_cast<std::size_t>(pLast - sText) : 0;
  const std::size_t iAfterStart = pLast ? iBefore + 1 : 0;
  const std::size_t iAfter = iLength - iAfterStart;
  if (iBefore >= iBeforeSize || iAfter >= iAfterSize) return false;
  std::memcpy(sBefore, sText, iBefore);
  sBefore[iBefore] = '\0';
  std::memcpy(sAfter, sText + iAfterStart, iAfter);
  sAfter[iAfter] = '\0';
  return true;
}

std::string IntToString(int iValue) { return std::to_string(iValue); }

long long FindFirst(const void* pPattern, std::size_t iPatternLength, const void* pBuffer,
                    std::size_t iBufferLength) {
  if (pPattern == nullptr || pBuffer == nullptr || iBufferLength < iPatternLength) return -1;
  const unsigned char* pBytes = static_cast<const unsigned char*>(pBuffer);
  for (std::size_t i = 0; i + iPatternLength <= iBufferLength; ++i)
    if (std::memcmp(pBytes + i, pPattern, iPatternLength) == 0) return static_cast<long long>(i);
  return -1;
}

long long FindLast(const void* pPattern, std::size_t iPatternLength, const void* pBuffer,
                   std::size_t iBufferLength) {
  if (pPattern == nullptr || pBuffer == nullptr || iBufferLength < iPatternLength) return -1;
  const unsigned char* pBytes = static_cast<const unsigned char*>(pBuffer);
  for (std::size_t i = iBufferLength - iPatternLength + 1; i-- > 0;)
    if (std::memcmp(pBytes + i, pPattern, iPatternLength) == 0) return static_cast<long long>(i);
  return -1;
}

}  // namespace Utility

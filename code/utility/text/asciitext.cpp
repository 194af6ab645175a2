#include "code/utility/text/asciitext.h"

#include <climits>

namespace Utility {

char ToLowerASCII(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string ToLowerASCII(std::string sText) {
  for (char& c : sText) c = ToLowerASCII(c);
  return sText;
}

bool AsciiEqualNoCase(const char* a, std::size_t iLengthA, const char* b, std::size_t iLengthB) {
  if (iLengthA != iLengthB) return false;
  for (std::size_t i = 0; i < iLengthA; ++i)
    if (ToLowerASCII(a[i]) != ToLowerASCII(b[i])) return false;
  return true;
}

bool AsciiEqualNoCase(const std::string& a, const std::string& b) {
  return AsciiEqualNoCase(a.data(), a.size(), b.data(), b.size());
}

int Decimal::AsInt() const {
  if (iValue > INT_MAX) return INT_MAX;
  if (iValue < INT_MIN) return INT_MIN;
  return static_cast<int>(iValue);
}

Decimal ReadDecimal(const char* s, std::size_t n) {
  Decimal o;
  if (s == nullptr) return o;
  std::size_t i = 0;
  while (i < n && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r'))) ++i;
  bool bNegative = false;
  if (i < n && (s[i] == '+' || s[i] == '-')) {
    o.bSigned = true;
    bNegative = s[i++] == '-';
  }
  long long iValue = 0;
  for (; i < n && s[i] >= '0' && s[i] <= '9'; ++i) {
    ++o.iDigits;
    if (iValue > (Decimal::kMax - (s[i] - '0')) / 10) {
      o.bOverflow = true;
      iValue = Decimal::kMax;
    } else if (!o.bOverflow) {
      iValue = iValue * 10 + (s[i] - '0');
    }
  }
  o.iEnd = i;
  o.iValue = bNegative ? -iValue : iValue;
  return o;
}

std::string FoldLineBreaks(const std::string& sText) {
  std::string sFolded;
  sFolded.reserve(sText.size());
  for (std::size_t i = 0; i < sText.size(); ++i) {
    if (sText[i] == '\r' && i + 1 < sText.size() && sText[i + 1] == '\n') continue;
    sFolded += sText[i];
  }
  return sFolded;
}

}  // namespace Utility

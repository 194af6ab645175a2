#pragma once
#include <cstddef>
#include <string>

// Small text helpers that look at ASCII only: protocol names, header
// names, file names and numbers in replies compare and read the same on
// every code page.
namespace Utility {

// 'A'-'Z' become 'a'-'z'; every other byte stays.
char ToLowerASCII(char c);
std::string ToLowerASCII(std::string sText);
// Equal byte for byte apart from the case of 'A'-'Z'.
bool AsciiEqualNoCase(const char* a, std::size_t iLengthA, const char* b, std::size_t iLengthB);
bool AsciiEqualNoCase(const std::string& a, const std::string& b);

// A decimal number at the start of a text, read as atoi reads it.
struct Decimal {
  long long iValue = 0;     // the value, sign applied; saturated at kMax
  std::size_t iDigits = 0;  // digits read; 0 when there is no number
  std::size_t iEnd = 0;     // offset just past the last digit (or where reading stopped)
  bool bSigned = false;     // a '+' or '-' came before the digits
  bool bOverflow = false;   // the digits stand for more than kMax
  static constexpr long long kMax = 999999999999999999LL;  // 18 nines: never overflows
  // The value clamped to the int range.
  int AsInt() const;
};
// Reads s[0..n): white space (blank, tab, CR, LF, VT, FF), an optional sign, then digits; stops at
// the first other byte or at n. Never reads past n.
Decimal ReadDecimal(const char* s, std::size_t n);

// CR LF pairs become LF, as reading in text mode does, without stopping at
// a Ctrl-Z byte. A lone CR stays.
std::string FoldLineBreaks(const std::string& sText);

}  // namespace Utility

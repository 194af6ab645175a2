#include "code/utility/text/asciitext.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(AsciiText, CaseFoldingTouchesOnlyAsciiLetters) {
  EXPECT_EQ(Utility::ToLowerASCII("\"QuorumVESSEL.exe\" [Z@]"), "\"quorumvessel.exe\" [z@]");
  // Bytes of other scripts stay as they are.
  EXPECT_EQ(Utility::ToLowerASCII("Content-LENGTH: 9 \xC3\x84Z@[`{"), "content-length: 9 \xC3\x84z@[`{");
  EXPECT_TRUE(Utility::AsciiEqualNoCase("ETag", "etag"));
  EXPECT_FALSE(Utility::AsciiEqualNoCase("ETag", "etag "));
  EXPECT_FALSE(Utility::AsciiEqualNoCase("\xC3\xA4", "\xC3\x84"));  // not ASCII: compared as bytes
  EXPECT_FALSE(Utility::AsciiEqualNoCase("@", "`"));                // 0x40 and 0x60 differ only in bit 5
}

TEST(AsciiText, ReadDecimalTable) {
  struct Case {
    const char* sText;
    std::size_t n;  // bytes the reader may look at
    long long iValue;
    std::size_t iDigits, iEnd;
    bool bSigned, bOverflow;
  } const aCases[] = {
      {"42", 2, 42, 2, 2, false, false},
      {" \t+7x", 5, 7, 1, 4, true, false},
      {"-15", 3, -15, 2, 3, true, false},
      {"123456", 3, 123, 3, 3, false, false},  // stops at n, never past it
      {"", 0, 0, 0, 0, false, false},
      {"abc", 3, 0, 0, 0, false, false},
      {" -", 2, 0, 0, 2, true, false},
      {"999999999999999999", 18, 999999999999999999LL, 18, 18, false, false},
      {"1000000000000000000", 19, Utility::Decimal::kMax, 19, 19, false, true},
      {"-99999999999999999999999", 24, -Utility::Decimal::kMax, 23, 24, true, true},
  };
  for (const Case& c : aCases) {
    SCOPED_TRACE(c.sText);
    const Utility::Decimal d = Utility::ReadDecimal(c.sText, c.n);
    EXPECT_EQ(d.iValue, c.iValue);
    EXPECT_EQ(d.iDigits, c.iDigits);
    EXPECT_EQ(d.iEnd, c.iEnd);
    EXPECT_EQ(d.bSigned, c.bSigned);
    EXPECT_EQ(d.bOverflow, c.bOverflow);
  }
  EXPECT_EQ(Utility::ReadDecimal(nullptr, 5).iDigits, 0u);
}

TEST(AsciiText, FoldLineBreaksTakesOnlyCrLfPairs) {
  const std::string sIn("a\r\nb\rc\n\r\r\n\x1a" "d\r", 13);
  EXPECT_EQ(Utility::FoldLineBreaks(sIn), std::string("a\nb\rc\n\r\n\x1a" "d\r", 11));
  EXPECT_EQ(Utility::FoldLineBreaks(std::string("x\0\r\ny", 5)), std::string("x\0\ny", 4));
}

}  // namespace

#include "code/utility/text/encoding.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/unit/digestvectors.h"

namespace {

std::string Encode(const std::string& sData, bool bLineBreaks) {
  std::string sOut = "stale";
  Utility::Base64Encode(reinterpret_cast<const unsigned char*>(sData.data()), sData.size(), sOut,
                        bLineBreaks);
  return sOut;
}

// Decodes from a heap block of exactly the input's size (no terminator), so
// the sanitizer sees any read past the input.
std::string Decode(const std::string& sInput) {
  std::vector<char> input(sInput.begin(), sInput.end());
  std::vector<unsigned char> out(sInput.size() + 1);
  std::size_t iCount = 999;
  EXPECT_TRUE(Utility::Base64Decode(input.data(), input.size(), out.data(), out.size(), iCount));
  return std::string(reinterpret_cast<const char*>(out.data()), iCount);
}

TEST(Base64Encode, GroupsPaddingAndLineBreaks) {
  EXPECT_EQ("", Encode("", false));
  EXPECT_EQ("TQ==", Encode("M", false));
  EXPECT_EQ("TWE=", Encode("Ma", false));
  EXPECT_EQ("TWFu", Encode("Man", false));
  EXPECT_EQ("/w==", Encode("\xff", false));

  const std::string s57(57, 'x'), s58(58, 'x'), s114(114, 'x');
  EXPECT_EQ(std::string(76, 'e').size(), Encode(s57, true).size());
  EXPECT_EQ(std::string::npos, Encode(s57, true).find('\n'));
  const std::string s58Encoded = Encode(s58, true);
  ASSERT_EQ(81u, s58Encoded.size());
  EXPECT_EQ('\n', s58Encoded[76]);
  EXPECT_EQ(Encode(s57, false) + "\neA==", s58Encoded);
  // Exactly two full lines: no break after the last one.
  EXPECT_EQ(Encode(s57, false) + "\n" + Encode(s57, false), Encode(s114, true));
  EXPECT_EQ(std::string::npos, Encode(s58, false).find('\n'));
}

struct DecodeCase {
  const char* sName;
  std::string sInput;
  std::string sBytes;
};

TEST(Base64Decode, Cases) {
  const DecodeCase kCases[] = {
      {"empty", "", ""},
      {"full group", "TWFu", "Man"},
      {"two groups across CR LF", "TWE=\r\nTWE=", "MaMa"},
      {"leading and trailing breaks", "\n\r\nTWFu\r\n\n", "Man"},
      {"only breaks", "\r\n\r\n", ""},
      {"CR inside a group counts as zero", "TW\rF", std::string("M`\x05", 3)},
      {"padding only tested at the end", "T=Fu", std::string("\x4c\x01\x6e", 3)},
      {"outside the alphabet is zero", "T*Fu", std::string("\x4c\x01\x6e", 3)},
      {"high bytes are zero", "TW\xe9u", std::string("M`\x2e", 3)},
      {"short last group of three", "TWFuTWE", "ManMa"},
      {"short last group of two", "TWFuTQ", "ManM"},
      {"lone last character", "TWFuT", "Man"},
      {"lone character", "T", ""},
  };
  for (const auto& c : kCases) EXPECT_EQ(c.sBytes, Decode(c.sInput)) << c.sName;
}

TEST(Base64Decode, RefusesOutputThatDoesNotFit) {
  const std::string sInput = "TWFuTWFu";
  unsigned char out[8];
  std::memset(out, '#', sizeof(out));
  std::size_t iCount = 77;
  EXPECT_FALSE(Utility::Base64Decode(sInput, out, 5, iCount));
  EXPECT_EQ(0u, iCount);
  EXPECT_EQ(std::string(8, '#'), std::string(reinterpret_cast<char*>(out), 8));
  EXPECT_TRUE(Utility::Base64Decode(sInput, out, 6, iCount));
  EXPECT_EQ(6u, iCount);
  EXPECT_EQ("ManMan##", std::string(reinterpret_cast<char*>(out), 8));
  EXPECT_EQ(6u, Utility::Base64DecodedLength(sInput.data(), sInput.size()));
}

// Vectors written by tests/tools/make_digest_vectors.py with Python's base64.
TEST(Base64, MatchesPythonOnRandomInputs) {
  const std::vector<DigestVector> vectors = ReadDigestVectors();
  ASSERT_FALSE(vectors.empty());
  for (const DigestVector& v : vectors) {
    const std::vector<unsigned char> data(v.sData.begin(), v.sData.end());
    std::string sOut;
    Utility::Base64Encode(data.data(), data.size(), sOut, false);
    EXPECT_EQ(v.sPlain, sOut) << v.sHex;
    Utility::Base64Encode(data.data(), data.size(), sOut, true);
    EXPECT_EQ(v.sWrapped, sOut) << v.sHex;
    EXPECT_EQ(v.sData, Decode(v.sPlain)) << v.sHex;
    EXPECT_EQ(v.sData, Decode(v.sWrapped)) << v.sHex;
    EXPECT_EQ(v.sData, Utility::Base64Decode(v.sWrapped)) << v.sHex;
  }
}

TEST(URLDecode, Cases) {
  EXPECT_EQ("a+b c%zz%4", Utility::URLDecode("a%2Bb+c%zz%4"));
  EXPECT_EQ("&=\xff\x01", Utility::URLDecode("%26%3d%fF%01"));
  EXPECT_EQ("%", Utility::URLDecode("%"));
  EXPECT_EQ("%2", Utility::URLDecode("%2"));
  EXPECT_EQ(std::string("a\0b", 3), Utility::URLDecode("a%00b"));
}

TEST(URLEncode, Cases) {
  EXPECT_EQ("a+%7E%2A-_.Zz09", Utility::URLEncode("a ~*-_.Zz09"));
  EXPECT_EQ("%2B%2F%3D%26%25%C3%A9%00", Utility::URLEncode(std::string("+/=&%\xc3\xa9\0", 8)));
  const std::string sAll = [] {
    std::string s;
    for (int i = 0; i < 256; ++i) s += static_cast<char>(i);
    return s;
  }();
  EXPECT_EQ(sAll, Utility::URLDecode(Utility::URLEncode(sAll)));
}

TEST(ReplaceAll, Cases) {
  EXPECT_EQ("aaaaaa", Utility::ReplaceAll("aaa", "a", "aa"));
  EXPECT_EQ("PCClient", Utility::ReplaceAll("PCClient.zip", ".zip", ""));
  EXPECT_EQ("x", Utility::ReplaceAll("x", "", "y"));
  EXPECT_EQ("", Utility::ReplaceAll("", "a", "b"));
  EXPECT_EQ("b-b-", Utility::ReplaceAll("ab-ab-", "ab", "b"));
}

TEST(Split, Cases) {
  std::vector<std::string> parts = {"kept"};
  Utility::Split("a.b..c.", ".", parts);
  EXPECT_EQ((std::vector<std::string>{"kept", "a", "b", "", "c", ""}), parts);

  parts = {"kept"};
  Utility::Split("", ".", parts);
  EXPECT_TRUE(parts.empty());

  parts.clear();
  Utility::Split("a\r\n\r\nb", "\r\n", parts);
  EXPECT_EQ((std::vector<std::string>{"a", "", "b"}), parts);

  parts.clear();
  Utility::Split("abc", "", parts);
  Utility::Split("abc", "x", parts);
  EXPECT_EQ((std::vector<std::string>{"abc", "abc"}), parts);
}

TEST(SplitAtLast, Cases) {
  char sBefore[16], sAfter[16];
  EXPECT_TRUE(Utility::SplitAtLast("C:\\a\\b\\x.exe", sBefore, sAfter, '\\'));
  EXPECT_STREQ("C:\\a\\b", sBefore);
  EXPECT_STREQ("x.exe", sAfter);

  EXPECT_TRUE(Utility::SplitAtLast("x.exe", sBefore, sAfter, '\\'));
  EXPECT_STREQ("", sBefore);
  EXPECT_STREQ("x.exe", sAfter);

  EXPECT_TRUE(Utility::SplitAtLast("C:\\dir\\", sBefore, sAfter, '\\'));
  EXPECT_STREQ("C:\\dir", sBefore);
  EXPECT_STREQ("", sAfter);

  EXPECT_FALSE(Utility::SplitAtLast(nullptr, sBefore, sAfter, '\\'));
  EXPECT_STREQ("", sBefore);
}

TEST(SplitAtLast, PartThatDoesNotFitIsRefused) {
  char sBefore[6], sAfter[6];
  EXPECT_TRUE(Utility::SplitAtLast("12345\\12345", sBefore, sAfter, '\\'));
  EXPECT_FALSE(Utility::SplitAtLast("123456\\1", sBefore, sAfter, '\\'));
  EXPECT_STREQ("", sBefore);
  EXPECT_STREQ("", sAfter);
  EXPECT_FALSE(Utility::SplitAtLast("1\\123456", sBefore, sAfter, '\\'));
  EXPECT_STREQ("", sBefore);
  EXPECT_STREQ("", sAfter);
}

TEST(IntToString, Cases) {
  EXPECT_EQ("0", Utility::IntToString(0));
  EXPECT_EQ("-42", Utility::IntToString(-42));
  EXPECT_EQ("2147483647", Utility::IntToString(2147483647));
}

TEST(FindFirstAndLast, Cases) {
  const char kBuffer[] = {'a', 'b', '\0', 'a', 'b', 'c'};
  EXPECT_EQ(0, Utility::FindFirst("ab", 2, kBuffer, sizeof(kBuffer)));
  EXPECT_EQ(3, Utility::FindLast("ab", 2, kBuffer, sizeof(kBuffer)));
  EXPECT_EQ(1, Utility::FindFirst("b\0a", 3, kBuffer, sizeof(kBuffer)));
  EXPECT_EQ(3, Utility::FindLast("abc", 3, kBuffer, sizeof(kBuffer)));
  EXPECT_EQ(-1, Utility::FindFirst("abd", 3, kBuffer, sizeof(kBuffer)));
  EXPECT_EQ(-1, Utility::FindLast("abd", 3, kBuffer, sizeof(kBuffer)));
  EXPECT_EQ(-1, Utility::FindLast("abcabca", 7, kBuffer, sizeof(kBuffer)));
  EXPECT_EQ(-1, Utility::FindFirst("abcabca", 7, kBuffer, sizeof(kBuffer)));
  // The whole buffer is a match of itself.
  EXPECT_EQ(0, Utility::FindLast(kBuffer, sizeof(kBuffer), kBuffer, sizeof(kBuffer)));
}

}  // namespace

#include "code/utility/text/textconv.h"

#include <gtest/gtest.h>

TEST(TextConv, RoundTripsNonAscii) {
  const std::string utf8 = "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x98\x80";
  const std::wstring w = TextConv::Utf8ToWide(utf8);
  EXPECT_EQ(w.size(), 10u);  // the emoji is a surrogate pair on Windows and one unit on Linux
  EXPECT_EQ(TextConv::WideToUtf8(w), utf8);
}

TEST(TextConv, BoundedNeedsRoomForTerminator) {
  const std::string s(511, 'a');
  EXPECT_EQ(TextConv::WideToUtf8Bounded(std::wstring(511, L'a'), 512), s);
  EXPECT_EQ(TextConv::WideToUtf8Bounded(std::wstring(512, L'a'), 512), "");
  // Two bytes per character in UTF-8: 256 characters need 513 bytes with the terminator.
  EXPECT_EQ(TextConv::WideToUtf8Bounded(std::wstring(256, L'\u00e9'), 512), "");
  EXPECT_EQ(TextConv::Utf8ToWideBounded(std::string(4095, 'x'), 4096).size(), 4095u);
  EXPECT_EQ(TextConv::Utf8ToWideBounded(std::string(4096, 'x'), 4096), L"");
}

TEST(TextConv, InvalidSequencesBecomeReplacement) {
  EXPECT_EQ(TextConv::Utf8ToWide("a\xFF" "b"), std::wstring(L"a\uFFFDb"));
  EXPECT_EQ(TextConv::Utf8ToWide("\xC3"), std::wstring(L"\uFFFD"));
}

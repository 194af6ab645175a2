#include <windows.h>

#include <gtest/gtest.h>

#include "code/utility/text/textconv.h"

TEST(WinSmoke, SystemConversionAgreesWithCore) {
  const std::string utf8 = "Gr\xC3\xBC\xC3\x9F" "e";
  wchar_t buf[64];
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, buf, 64);
  ASSERT_GT(n, 0);
  EXPECT_EQ(TextConv::Utf8ToWide(utf8), std::wstring(buf));
}

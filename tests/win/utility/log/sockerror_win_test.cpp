#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "code/utility/log/sockerror.h"
#include "code/utility/text/textconv.h"

namespace {
std::string SystemMessage(DWORD iCode) {
  wchar_t ws[512] = {0};
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, iCode,
                                 MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), ws, 511, nullptr);
  return TextConv::WideToUtf8(std::wstring(ws, n));
}
}  // namespace

TEST(GetSocketErrorText, WinsockNumbersGiveFixedTexts) {
  EXPECT_STREQ(GetSocketErrorText(10060), "Connection timed out.");
  EXPECT_STREQ(GetSocketErrorText(10038), "MySocket operation on nonsocket.");
  EXPECT_STREQ(GetSocketErrorText(11001), "Host not found.");
}

TEST(GetSocketErrorText, OtherNumbersGiveTheSystemMessage) {
  for (DWORD iCode : {0ul, 2ul, 5ul}) {
    const std::string sExpected = SystemMessage(iCode);
    EXPECT_EQ(std::string(GetSocketErrorText(static_cast<int>(iCode))), sExpected) << iCode;
  }
  EXPECT_FALSE(SystemMessage(2).empty());
  // No message at all: the empty text, not what an earlier call left behind.
  GetSocketErrorText(2);
  EXPECT_STREQ(GetSocketErrorText(0x7A5B3C1D), "");
}

TEST(GetSocketErrorText, HttpClientNumbersGiveTheirOwnMessage) {
  // Not in the system table: without wininet's table the log line would end in "error: ".
  wchar_t ws[512] = {0};
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 GetModuleHandleW(L"wininet.dll"), 12029, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                 ws, 511, nullptr);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(std::string(GetSocketErrorText(12029)), TextConv::WideToUtf8(std::wstring(ws, n)));
}

TEST(GetSocketErrorText, TextOfOneThreadIsNotReplacedByAnother) {
  const std::string sFileNotFound = SystemMessage(2);
  const char* sMine = GetSocketErrorText(2);
  std::thread([] { GetSocketErrorText(5); }).join();
  EXPECT_EQ(std::string(sMine), sFileNotFound);
}

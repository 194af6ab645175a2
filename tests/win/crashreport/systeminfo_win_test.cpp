#include "code/crashreport/systeminfo.h"

#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "code/utility/text/textconv.h"

namespace {

std::string RegistryText(const wchar_t* sKey, const wchar_t* sValue) {
  wchar_t s[256] = L"";
  DWORD iSize = sizeof s;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, sKey, sValue, RRF_RT_REG_SZ, nullptr, s, &iSize) != ERROR_SUCCESS)
    return "<missing>";
  return TextConv::WideToUtf8(s);
}

}  // namespace

// The e2e tests run this in prefixes set to several Windows versions and give
// the text they expect in QV_EXPECTED_OS_NAME.
TEST(SystemInfoGetOSName, NamesTheVersionTheSystemReports) {
  ASSERT_TRUE(SystemInfo::GetOSName());
  const std::string& sName = SystemInfo::GetTexts().sOSName;
  const char* sExpected = std::getenv("QV_EXPECTED_OS_NAME");
  if (sExpected) {
    EXPECT_EQ(sName, sExpected);
  } else {
    EXPECT_EQ(sName.rfind("Microsoft Windows ", 0), 0u) << sName;
  }
  std::printf("OS: %s\n", sName.c_str());
}

TEST(SystemInfoGetIEVersion, ReadsTheBrowserKeys) {
  ASSERT_TRUE(SystemInfo::GetIEVersion());
  const SystemInfo::Texts& o = SystemInfo::GetTexts();
  const std::string sVersion = RegistryText(L"Software\\Microsoft\\Internet Explorer", L"Version");
  EXPECT_EQ(o.sIEVersion, sVersion == "<missing>" ? "Not found" : sVersion);
  const std::string sBuild = RegistryText(L"Software\\Microsoft\\Internet Explorer", L"Build");
  EXPECT_EQ(o.sIEBuild, sBuild == "<missing>" ? "Not found" : sBuild);
  const std::string sMinor =
      RegistryText(L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", L"MinorVersion");
  EXPECT_EQ(o.sIEMinorVersion, sMinor == "<missing>" ? "Not Found" : sMinor);
}

TEST(SystemInfoGetComputerInfo, NameAndDottedAddressOfThisComputer) {
  WSADATA oData;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &oData), 0);
  ASSERT_TRUE(SystemInfo::GetComputerInfo());
  const SystemInfo::Texts& o = SystemInfo::GetTexts();
  EXPECT_FALSE(o.sComputerName.empty());
  unsigned a, b, c, d;
  char cRest;
  EXPECT_EQ(std::sscanf(o.sComputerIP.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &cRest), 4) << o.sComputerIP;
  WSACleanup();
}

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "code/pcutility/pcutility.h"
#include "code/utility/registryhandler.h"
#include "code/utility/sockerror.h"
#include "code/utility/textconv.h"
#include "tests/unit/logcapture.h"

namespace {
// A private root under the current user, removed afterwards, so the tests
// never touch the real Software\Classes.
class ScratchRoot {
 public:
  ScratchRoot() : m_sPath(L"Software\\QVTests\\registry-" + std::to_wstring(GetCurrentProcessId())) {
    RegDeleteTreeW(HKEY_CURRENT_USER, m_sPath.c_str());
    RegCreateKeyExW(HKEY_CURRENT_USER, m_sPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &m_hKey, nullptr);
  }
  ~ScratchRoot() {
    RegCloseKey(m_hKey);
    RegDeleteTreeW(HKEY_CURRENT_USER, m_sPath.c_str());
  }
  HKEY Get() const { return m_hKey; }
  DWORD SubKeyCount(const wchar_t* sKey) const {
    HKEY h = nullptr;
    if (RegOpenKeyExW(m_hKey, sKey, 0, KEY_READ, &h) != ERROR_SUCCESS) return 0;
    DWORD n = 0;
    RegQueryInfoKeyW(h, nullptr, nullptr, nullptr, &n, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(h);
    return n;
  }
  DWORD ValueCount(const wchar_t* sKey) const {
    HKEY h = nullptr;
    if (RegOpenKeyExW(m_hKey, sKey, 0, KEY_READ, &h) != ERROR_SUCCESS) return 0;
    DWORD n = 0;
    RegQueryInfoKeyW(h, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &n, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(h);
    return n;
  }
  // Type and raw bytes of a value; type REG_NONE when it is missing.
  std::pair<DWORD, std::string> Value(const wchar_t* sKey, const wchar_t* sName) const {
    BYTE aData[2048];
    DWORD iSize = sizeof(aData);
    DWORD iType = REG_NONE;
    if (RegGetValueW(m_hKey, sKey, sName, RRF_RT_ANY | RRF_NOEXPAND, &iType, aData, &iSize) != ERROR_SUCCESS) {
      return {REG_NONE, ""};
    }
    return {iType, std::string(reinterpret_cast<char*>(aData), iSize)};
  }

 private:
  std::wstring m_sPath;
  HKEY m_hKey = nullptr;
};

std::string WideBytes(const std::wstring& s) {
  return std::string(reinterpret_cast<const char*>(s.c_str()), (s.size() + 1) * sizeof(wchar_t));
}
}  // namespace

TEST(RegisterStarter, WritesTheFourValues) {
  ScratchRoot oRoot;
  LogCapture log;
  EXPECT_TRUE(PCUtility::RegisterStarter(oRoot.Get(), "C:\\My Tools\\QuorumvesselStarter.exe", "Quorumvessel"));
  const std::pair<DWORD, std::string> aExpected[] = {
      {REG_SZ, WideBytes(L"URL:Quorumvessel Starter")},
      {REG_SZ, WideBytes(L"")},
      {REG_SZ, WideBytes(L"\"C:\\My Tools\\QuorumvesselStarter.exe\" %1")},
      {REG_DWORD, std::string("\0\0\0\0", 4)},
  };
  EXPECT_EQ(oRoot.Value(L"Software\\Classes\\Quorumvessel", nullptr), aExpected[0]);
  EXPECT_EQ(oRoot.Value(L"Software\\Classes\\Quorumvessel", L"URL Protocol"), aExpected[1]);
  EXPECT_EQ(oRoot.Value(L"Software\\Classes\\Quorumvessel\\shell\\open\\command", nullptr), aExpected[2]);
  EXPECT_EQ(oRoot.Value(L"Software\\Microsoft\\Internet Explorer\\ProtocolExecute\\Quorumvessel", L"WarnOnOpen"),
            aExpected[3]);
  EXPECT_EQ(oRoot.ValueCount(L"Software\\Classes\\Quorumvessel"), 2u);
  EXPECT_EQ(oRoot.ValueCount(L"Software\\Classes\\Quorumvessel\\shell\\open\\command"), 1u);
  EXPECT_EQ(oRoot.ValueCount(L"Software\\Microsoft\\Internet Explorer\\ProtocolExecute\\Quorumvessel"), 1u);
  EXPECT_EQ(log.messages(),
            (std::vector<std::string>{
                "sKey = Software\\Classes\\Quorumvessel, sURL = URL:Quorumvessel Starter, "
                "sStarterFile = C:\\My Tools\\QuorumvesselStarter.exe, sClientName = Quorumvessel",
                "sCommandKey = Software\\Classes\\Quorumvessel\\shell\\open\\command"}));

  // Moved starter: the command follows it.
  EXPECT_TRUE(PCUtility::RegisterStarter(oRoot.Get(), "D:\\elsewhere\\QuorumvesselStarter.exe", "Quorumvessel"));
  EXPECT_EQ(oRoot.Value(L"Software\\Classes\\Quorumvessel\\shell\\open\\command", nullptr).second,
            WideBytes(L"\"D:\\elsewhere\\QuorumvesselStarter.exe\" %1"));
}

TEST(RegisterStarter, RefusedTextsWriteNothing) {
  ScratchRoot oRoot;
  LogCapture log;
  EXPECT_FALSE(PCUtility::RegisterStarter(oRoot.Get(), "C:\\t\\Starter.exe", ""));
  EXPECT_FALSE(PCUtility::RegisterStarter(oRoot.Get(), ("C:\\" + std::string(600, 'x') + ".exe").c_str(), "Q"));
  EXPECT_EQ(oRoot.SubKeyCount(nullptr), 0u);
  EXPECT_EQ(oRoot.ValueCount(nullptr), 0u);
  EXPECT_TRUE(log.Contains("empty sClientName, nothing registered for sStarterFile = C:\\t\\Starter.exe"));
}

TEST(AddRegistryValue, NumbersStringsAndFailures) {
  ScratchRoot oRoot;
  RegistryHandler oHandler;
  ASSERT_TRUE(oHandler.AddRegistryKey(oRoot.Get(), "k\\sub"));
  ASSERT_TRUE(oHandler.AddRegistryKey(oRoot.Get(), "k\\sub"));  // existing key is fine
  struct Case {
    const char* sName;
    const char* sValue;
    DWORD iType;
    std::pair<DWORD, std::string> oStored;
  } aCases[] = {
      {"n", "42", REG_DWORD, {REG_DWORD, std::string("\x2a\0\0\0", 4)}},
      {"abc", "abc", REG_DWORD, {REG_DWORD, std::string("\0\0\0\0", 4)}},
      {"s", "Gr\xC3\xBC\xC3\x9F" "e", REG_SZ, {REG_SZ, WideBytes(L"Gr\u00FC\u00DFe")}},
      {"", "default", REG_SZ, {REG_SZ, WideBytes(L"default")}},
  };
  for (const auto& c : aCases) {
    EXPECT_TRUE(oHandler.AddRegistryValue(oRoot.Get(), "k\\sub", c.sName, c.sValue, c.iType)) << c.sName;
    const std::wstring wsName = TextConv::Utf8ToWide(c.sName);
    EXPECT_EQ(oRoot.Value(L"k\\sub", wsName.empty() ? nullptr : wsName.c_str()), c.oStored) << c.sName;
  }

  LogCapture log;
  EXPECT_FALSE(oHandler.AddRegistryValue(oRoot.Get(), "k\\missing", "x", "y", REG_SZ));
  EXPECT_EQ(log.messages().back(), std::string("RegOpenKeyEx() failed. iErrorCode = 2, Error = ") +
                                       GetSocketErrorText(2) + ", sKey = k\\missing, sName = x, sValue = y");
  EXPECT_EQ(log.entries().back().sFunction, "RegistryHandler::AddRegistryValue()");
  EXPECT_EQ(log.entries().back().sSource, "code/utility/registryhandler");

  const std::string sLong(512, 'v');
  EXPECT_FALSE(oHandler.AddRegistryValue(oRoot.Get(), "k\\sub", "long", sLong.c_str(), REG_SZ));
  EXPECT_EQ(log.messages().back(), "sValue is 512 bytes, longer than 511: " + sLong);
  EXPECT_EQ(oRoot.Value(L"k\\sub", L"long").first, static_cast<DWORD>(REG_NONE));
  EXPECT_FALSE(oHandler.AddRegistryKey(oRoot.Get(), ("k\\" + std::string(510, 'q')).c_str()));
  EXPECT_EQ(oRoot.SubKeyCount(L"k"), 1u);
}

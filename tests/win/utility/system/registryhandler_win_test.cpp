#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "code/pcutility/pcutility_win.h"
#include "code/utility/log/sockerror.h"
#include "code/utility/system/registryhandler_win.h"
#include "code/utility/text/textconv.h"
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

// Every key below sKey (relative paths, "" for sKey itself) with its values
// as name -> (type, raw bytes): what a registry read-back sees.
using Tree = std::map<std::wstring, std::map<std::wstring, std::pair<DWORD, std::string>>>;
void ReadTree(HKEY hKey, const std::wstring& sPath, Tree& oTree) {
  auto& oValues = oTree[sPath];
  for (DWORD i = 0;; ++i) {
    wchar_t sName[512];
    DWORD iName = 512;
    BYTE aData[2048];
    DWORD iData = sizeof(aData);
    DWORD iType = 0;
    if (RegEnumValueW(hKey, i, sName, &iName, nullptr, &iType, aData, &iData) != ERROR_SUCCESS) break;
    oValues[sName] = {iType, std::string(reinterpret_cast<char*>(aData), iData)};
  }
  for (DWORD i = 0;; ++i) {
    wchar_t sName[512];
    DWORD iName = 512;
    if (RegEnumKeyExW(hKey, i, sName, &iName, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    HKEY hSub = nullptr;
    if (RegOpenKeyExW(hKey, sName, 0, KEY_READ, &hSub) != ERROR_SUCCESS) continue;
    ReadTree(hSub, sPath.empty() ? sName : sPath + L"\\" + sName, oTree);
    RegCloseKey(hSub);
  }
}
Tree ReadTree(HKEY hRoot, const wchar_t* sKey) {
  Tree oTree;
  HKEY hKey = nullptr;
  if (RegOpenKeyExW(hRoot, sKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS) return oTree;
  ReadTree(hKey, L"", oTree);
  RegCloseKey(hKey);
  return oTree;
}

void SetString(HKEY hRoot, const wchar_t* sKey, const wchar_t* sName, const wchar_t* sValue) {
  HKEY hKey = nullptr;
  ASSERT_EQ(RegCreateKeyExW(hRoot, sKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey, nullptr), ERROR_SUCCESS);
  RegSetValueExW(hKey, sName, 0, REG_SZ, reinterpret_cast<const BYTE*>(sValue),
                 static_cast<DWORD>((wcslen(sValue) + 1) * sizeof(wchar_t)));
  RegCloseKey(hKey);
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

TEST(RegisterStarter, ExistingClassesAndOtherProgramsProtocolsAreNeverReplaced) {
  // A starter saved as "txtfileStarter.exe" would otherwise point every text
  // file of the user at itself, and "httpStarter.exe" every web link.
  struct Case {
    const char* sName;
    const wchar_t* sDescription;
    bool bUrlProtocol;  // the existing key has a "URL Protocol" value
    const char* sLogged;  // empty: registered
  };
  const Case kCases[] = {
      {"txtfile", L"Text Document", false, "Software\\Classes\\txtfile exists and is not a URL protocol"},
      {"Acme", L"URL:Acme Protocol", true, "Software\\Classes\\Acme is the URL protocol of another program"},
      {"Quorumvessel", L"URL:Quorumvessel Starter", true, ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.sName);
    ScratchRoot oRoot;
    const std::wstring sKey = L"Software\\Classes\\" + TextConv::Utf8ToWide(c.sName);
    SetString(oRoot.Get(), sKey.c_str(), nullptr, c.sDescription);
    SetString(oRoot.Get(), sKey.c_str(), L"EditFlags", L"keep");
    SetString(oRoot.Get(), (sKey + L"\\shell\\open\\command").c_str(), nullptr, L"other.exe \"%1\"");
    if (c.bUrlProtocol) SetString(oRoot.Get(), sKey.c_str(), L"URL Protocol", L"");
    const Tree oBefore = ReadTree(oRoot.Get(), L"Software");

    const std::string sStarter = std::string("C:\\dl\\") + c.sName + "Starter.exe";
    LogCapture log;
    const bool bRegistered = *c.sLogged == '\0';
    EXPECT_EQ(PCUtility::RegisterStarter(oRoot.Get(), sStarter.c_str(), c.sName), bRegistered);
    const Tree oAfter = ReadTree(oRoot.Get(), L"Software");
    if (!bRegistered) {
      EXPECT_EQ(oAfter, oBefore);
      EXPECT_EQ(log.messages(), std::vector<std::string>{std::string(c.sLogged) +
                                                         ", nothing registered for sStarterFile = " + sStarter});
      EXPECT_EQ(log.entries()[0].iSeverity, 3);
    } else {
      // A protocol an earlier starter registered follows the new one.
      EXPECT_EQ(oRoot.Value(sKey.c_str(), nullptr).second, WideBytes(L"URL:Quorumvessel Starter"));
      EXPECT_EQ(oRoot.Value((sKey + L"\\shell\\open\\command").c_str(), nullptr).second,
                WideBytes(L"\"C:\\dl\\QuorumvesselStarter.exe\" %1"));
      EXPECT_EQ(oRoot.Value(L"Software\\Microsoft\\Internet Explorer\\ProtocolExecute\\Quorumvessel",
                            L"WarnOnOpen").first,
                static_cast<DWORD>(REG_DWORD));
    }
  }
}

TEST(RegisterStarter, ClassesSeenThroughTheMergedRootAreNeverOverridden) {
  // The user's classes override the machine's: a user key "exefile" would
  // take over every program start of the user, "http" every web link,
  // though the user's own classes hold no such key.
  struct Case {
    const char* sName;
    const char* sLogged;
  };
  const Case kCases[] = {{"exefile", "HKEY_CLASSES_ROOT\\exefile exists and is not a URL protocol"},
                         {"http", "HKEY_CLASSES_ROOT\\http is the URL protocol of another program"}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.sName);
    const std::wstring sName = TextConv::Utf8ToWide(c.sName);
    HKEY hMachine = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, sName.c_str(), 0, KEY_READ, &hMachine), ERROR_SUCCESS);
    RegCloseKey(hMachine);
    const Tree oMachineBefore = ReadTree(HKEY_CLASSES_ROOT, sName.c_str());
    ScratchRoot oRoot;
    const std::string sStarter = std::string("C:\\dl\\") + c.sName + "Starter.exe";
    LogCapture log;
    EXPECT_FALSE(PCUtility::RegisterStarter(oRoot.Get(), sStarter.c_str(), c.sName));
    EXPECT_EQ(oRoot.SubKeyCount(nullptr), 0u);
    EXPECT_EQ(oRoot.ValueCount(nullptr), 0u);
    EXPECT_EQ(ReadTree(HKEY_CLASSES_ROOT, sName.c_str()), oMachineBefore);
    EXPECT_EQ(log.messages(), std::vector<std::string>{std::string(c.sLogged) +
                                                       ", nothing registered for sStarterFile = " + sStarter});
  }
}

#include "code/crashreport/systeminfo.h"

#include <winsock2.h>
#include <windows.h>

#include "code/utility/system/scopedhandle_win.h"
#include "code/utility/text/textconv.h"

namespace {

SystemInfo::Texts g_oTexts;

constexpr DWORD kRegistryValueBytes = 80;
constexpr std::size_t kRegistryTextCapacity = 32;  // at most 31 bytes of UTF-8

// Reads a text value into an 80-byte buffer; false when the value is missing
// or not text. A value longer than 31 bytes of UTF-8 gives the empty text.
bool ReadRegistryText(HKEY hKey, const wchar_t* sName, std::string& sOut) {
  wchar_t sValue[kRegistryValueBytes / sizeof(wchar_t) + 1] = {};
  DWORD iType = 0;
  DWORD iSize = kRegistryValueBytes;
  if (RegQueryValueExW(hKey, sName, nullptr, &iType, reinterpret_cast<BYTE*>(sValue), &iSize) != ERROR_SUCCESS ||
      (iType != REG_SZ && iType != REG_EXPAND_SZ))
    return false;
  sValue[iSize / sizeof(wchar_t)] = 0;
  sOut = TextConv::WideToUtf8Bounded(sValue, kRegistryTextCapacity);
  return true;
}

}  // namespace

const SystemInfo::Texts& SystemInfo::GetTexts() {
  return g_oTexts;
}

bool SystemInfo::GetComputerInfo() {
  char sLocalName[256] = "";
  if (gethostname(sLocalName, sizeof sLocalName) != 0) return false;
  sLocalName[sizeof sLocalName - 1] = 0;
  hostent* pHost = gethostbyname(sLocalName);
  if (!pHost) return false;
  g_oTexts.sComputerName = pHost->h_name ? pHost->h_name : "";
  if (pHost->h_addrtype == AF_INET && pHost->h_addr_list && pHost->h_addr_list[0]) {
    in_addr oAddress;
    memcpy(&oAddress, pHost->h_addr_list[0], sizeof oAddress);
    const char* sDotted = inet_ntoa(oAddress);
    g_oTexts.sComputerIP = sDotted ? sDotted : "";
  }
  return true;
}

bool SystemInfo::GetIEVersion() {
  HKEY hKey = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Internet Explorer", 0, KEY_QUERY_VALUE, &hKey) ==
      ERROR_SUCCESS) {
    ScopedRegKey oKey(hKey);
    if (!ReadRegistryText(hKey, L"Version", g_oTexts.sIEVersion)) g_oTexts.sIEVersion = "Not found";
    if (!ReadRegistryText(hKey, L"Build", g_oTexts.sIEBuild)) g_oTexts.sIEBuild = "Not found";
  }
  hKey = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", 0,
                    KEY_QUERY_VALUE, &hKey) == ERROR_SUCCESS) {
    ScopedRegKey oKey(hKey);
    if (!ReadRegistryText(hKey, L"MinorVersion", g_oTexts.sIEMinorVersion)) g_oTexts.sIEMinorVersion = "Not Found";
  }
  return true;
}

bool SystemInfo::GetOSName() {
  g_oTexts.sOSName.clear();
  OSVERSIONINFOEXW oInfo = {};
  oInfo.dwOSVersionInfoSize = sizeof oInfo;
  OSVersion oVersion;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&oInfo))) {
    oVersion.bExtended = true;
  } else {
    oInfo = {};
    oInfo.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&oInfo))) return false;
  }
#pragma GCC diagnostic pop
  oVersion.iPlatformId = oInfo.dwPlatformId;
  oVersion.iMajor = oInfo.dwMajorVersion;
  oVersion.iMinor = oInfo.dwMinorVersion;
  oVersion.iBuild = oInfo.dwBuildNumber;
  oInfo.szCSDVersion[127] = 0;
  oVersion.sServicePack = TextConv::WideToUtf8(oInfo.szCSDVersion);
  if (oVersion.bExtended) {
    oVersion.iProductType = oInfo.wProductType;
    oVersion.iSuiteMask = oInfo.wSuiteMask;
  } else if (oInfo.dwPlatformId == VER_PLATFORM_WIN32_NT) {
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\ProductOptions", 0, KEY_QUERY_VALUE,
                      &hKey) == ERROR_SUCCESS) {
      ScopedRegKey oKey(hKey);
      ReadRegistryText(hKey, L"ProductType", oVersion.sRegistryProductType);
    }
  }
  g_oTexts.sOSName = FormatOSName(oVersion);
  return true;
}

// What the system says about the way through the network: its proxy options
// for the default connection (HR::DP) and the answer of an auto-config script
// (HR::Detect), evaluated by the system's script engine.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <urlmon.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "code/hlib/hlib_internal_win.h"
#include "code/hlib/requesttext.h"
#include "code/utility/net/socketdownload.h"
#include "code/utility/system/scopedhandle_win.h"

using namespace HLibInternal;

namespace {
const char kDP[] = "HR::DP";
const char kDetect[] = "HR::Detect";
// The script is logged whole up to about this size.
const std::size_t kMaxLoggedScript = 1024 * 1024;
const UINT kSystemPathSize = MAX_PATH + 1;

// Script support functions for the auto-config engine: four entries and
// five empty ones for the extended variants, which are not offered.
BOOL WINAPI ScriptIsResolvable(LPSTR lpszHost) {
  std::string sIP;
  Utility::ResolveHostName(lpszHost, sIP);
  return TRUE;
}

DWORD CopyAnswer(const std::string& s, LPSTR lpszOut, LPDWORD lpdwSize) {
  if (lpszOut == nullptr || lpdwSize == nullptr || *lpdwSize == 0) return ERROR_INSUFFICIENT_BUFFER;
  if (s.size() + 1 > *lpdwSize) {
    *lpdwSize = static_cast<DWORD>(s.size() + 1);
    return ERROR_INSUFFICIENT_BUFFER;
  }
  std::memcpy(lpszOut, s.c_str(), s.size() + 1);
  *lpdwSize = static_cast<DWORD>(s.size());
  return ERROR_SUCCESS;
}

DWORD WINAPI ScriptMyIPAddress(LPSTR lpszIPAddress, LPDWORD lpdwIPAddressSize) {
  char sName[256] = {0};
  if (gethostname(sName, 255) != 0) return ERROR_INTERNET_INTERNAL_ERROR;
  std::string sIP;
  Utility::ResolveHostName(sName, sIP);
  CopyAnswer(sIP, lpszIPAddress, lpdwIPAddressSize);
  return ERROR_SUCCESS;
}

DWORD WINAPI ScriptResolveHostName(LPSTR lpszHostName, LPSTR lpszIPAddress, LPDWORD lpdwIPAddressSize) {
  std::string sIP;
  Utility::ResolveHostName(lpszHostName, sIP);
  CopyAnswer(sIP, lpszIPAddress, lpdwIPAddressSize);
  return ERROR_SUCCESS;
}

BOOL WINAPI ScriptIsInNet(LPSTR lpszIPAddress, LPSTR lpszDest, LPSTR lpszMask) {
  unsigned long iAddress = 0, iDest = 0, iMask = 0;
  if (!lpszIPAddress || !lpszDest || !lpszMask) return FALSE;
  if (inet_pton(AF_INET, lpszIPAddress, &iAddress) != 1 || inet_pton(AF_INET, lpszDest, &iDest) != 1)
    return FALSE;
  if (inet_pton(AF_INET, lpszMask, &iMask) != 1) iMask = 0;
  return (iAddress & iMask) == iDest;
}

struct ScriptHelperTable {
  void* pEntries[9];
};
const ScriptHelperTable g_scriptHelpers = {{reinterpret_cast<void*>(&ScriptIsResolvable),
                                            reinterpret_cast<void*>(&ScriptMyIPAddress),
                                            reinterpret_cast<void*>(&ScriptResolveHostName),
                                            reinterpret_cast<void*>(&ScriptIsInNet), nullptr, nullptr, nullptr,
                                            nullptr, nullptr}};

// The system folder's copy of a library, never one that happens to lie in
// the current folder or beside the starter; null (last error set) when it
// cannot be loaded.
HMODULE LoadSystemLibrary(const wchar_t* sName) {
  wchar_t sPath[kSystemPathSize] = {0};
  const UINT n = GetSystemDirectoryW(sPath, kSystemPathSize);
  if (n == 0) return nullptr;
  const std::size_t iName = std::wcslen(sName);
  if (n + 1 + iName >= kSystemPathSize) {
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return nullptr;
  }
  sPath[n] = L'\\';
  std::wmemcpy(sPath + n + 1, sName, iName + 1);
  return LoadLibraryW(sPath);
}

template <typename Function>
Function Entry(HMODULE hModule, const char* sName) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(hModule, sName)));
}

// The system's auto-config script engine and the three entries used.
struct ScriptEngine {
  ScopedModule hModule;
  pfnInternetInitializeAutoProxyDll pInit = nullptr;
  pfnInternetDeInitializeAutoProxyDll pDeInit = nullptr;
  pfnInternetGetProxyInfo pGetProxy = nullptr;
};

// False (logged) when the engine or one of its entries is missing.
bool LoadScriptEngine(ScriptEngine& engine) {
  engine.hModule.Reset(LoadSystemLibrary(L"jsproxy.dll"));
  if (!engine.hModule) {
    QV_LOG(kDetect, 0, kSource, "Failed to 111 LoadLibrary %d", static_cast<int>(GetLastError()));
    return false;
  }
  engine.pInit = Entry<pfnInternetInitializeAutoProxyDll>(engine.hModule.Get(), "InternetInitializeAutoProxyDll");
  engine.pDeInit =
      Entry<pfnInternetDeInitializeAutoProxyDll>(engine.hModule.Get(), "InternetDeInitializeAutoProxyDll");
  engine.pGetProxy = Entry<pfnInternetGetProxyInfo>(engine.hModule.Get(), "InternetGetProxyInfo");
  if (!engine.pInit || !engine.pDeInit || !engine.pGetProxy) {
    QV_LOG(kDetect, 0, kSource, "Failed to 222 GetProcAddress %d", static_cast<int>(GetLastError()));
    return false;
  }
  return true;
}

// Fetches the script into a new temporary file (sTempFile, MAX_PATH + 1
// characters) and logs it; false (logged) when no temporary file can be made.
bool DownloadScript(const char* sWPADLocation, char* sTempFile) {
  char sTempFolder[MAX_PATH + 1] = {0};
  const DWORD iFolder = GetTempPathA(sizeof(sTempFolder), sTempFolder);
  // A folder that does not fit gives the size it needs instead.
  if (iFolder == 0 || iFolder >= sizeof(sTempFolder) || GetTempFileNameA(sTempFolder, "", 0, sTempFile) == 0) {
    QV_LOG(kDetect, 0, kSource, "Failed to 444 error %d return value %d for WPADLocation = %s",
           static_cast<int>(GetLastError()), 0, sWPADLocation);
    return false;
  }
  URLDownloadToFileA(nullptr, sWPADLocation, sTempFile, 0, nullptr);
  if (ScopedStdioFile f{std::fopen(sTempFile, "rt")}) {
    std::string sScript;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), f.Get())) > 0 && sScript.size() < kMaxLoggedScript)
      sScript.append(buffer, n);
    f.Reset();
    QV_LOG(kDetect, 0, kSource, "The script: %s", sScript.c_str());
  }
  return true;
}

// The engine's answer (a block it allocated) into sProxyList, cut to fit.
void TakeAnswer(LPSTR pAnswer, DWORD iAnswer, char* sProxyList) {
  if (pAnswer == nullptr) return;
  const ScopedGlobalMemory oAnswer(pAnswer);
  const std::size_t iMax = HR::kProxyListSize - 1;
  const std::size_t iLength = strnlen(pAnswer, iAnswer ? (iAnswer < HR::kProxyListSize ? iAnswer : iMax) : iMax);
  std::memcpy(sProxyList, pAnswer, iLength);
  sProxyList[iLength] = 0;
}

// Runs the script in sTempFile for the URL and host texts; the temporary
// file is deleted afterwards.
void AskEngine(const ScriptEngine& engine, char* sTempFile, const std::string& sURLText,
               const std::string& sHostText, const char* sWPADLocation, char* sProxyList) {
  AutoProxyHelperFunctions helpers;
  helpers.lpVtbl = reinterpret_cast<const AutoProxyHelperVtbl*>(&g_scriptHelpers);
  const BOOL bInit = engine.pInit(1, sTempFile, nullptr, &helpers, nullptr);
  if (!bInit) {
    QV_LOG(kDetect, 0, kSource, "Failed to 444 error %d return value %d for WPADLocation = %s",
           static_cast<int>(GetLastError()), static_cast<int>(bInit), sWPADLocation);
    DeleteFileA(sTempFile);
    return;
  }
  LPSTR pAnswer = nullptr;
  DWORD iAnswer = 0;
  const BOOL bGot = engine.pGetProxy(sURLText.c_str(), static_cast<DWORD>(sURLText.size()),
                                     const_cast<char*>(sHostText.c_str()), static_cast<DWORD>(sHostText.size()),
                                     &pAnswer, &iAnswer);
  TakeAnswer(pAnswer, iAnswer, sProxyList);
  if (!bGot) QV_LOG(kDetect, 0, kSource, "Failed to 555 error %d, %s", static_cast<int>(GetLastError()), sProxyList);
  DeleteFileA(sTempFile);
  QV_LOG(kDetect, 0, kSource, "666 %s", sProxyList);
  if (!engine.pDeInit(nullptr, 0))
    QV_LOG(kDetect, 0, kSource, "Failed to 777 error %d", static_cast<int>(GetLastError()));
}
}  // namespace

bool HR::DP(SystemProxyOptions& options) {
  options = SystemProxyOptions();
  INTERNET_PER_CONN_OPTIONA option[5];
  std::memset(option, 0, sizeof(option));
  option[0].dwOption = INTERNET_PER_CONN_AUTOCONFIG_URL;
  option[1].dwOption = INTERNET_PER_CONN_AUTODISCOVERY_FLAGS;
  option[2].dwOption = INTERNET_PER_CONN_FLAGS;
  option[3].dwOption = INTERNET_PER_CONN_PROXY_BYPASS;
  option[4].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
  INTERNET_PER_CONN_OPTION_LISTA list;
  std::memset(&list, 0, sizeof(list));
  list.dwSize = sizeof(list);
  list.pszConnection = nullptr;
  list.dwOptionCount = 5;
  list.pOptions = option;
  DWORD iSize = sizeof(list);
  if (!InternetQueryOptionA(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, &iSize)) {
    const DWORD iError = GetLastError();
    QV_LOG(kDP, 0, kSource, "Failed to InternetQueryOption %d", static_cast<int>(iError));
    return iError != 12178 && iError != ERROR_INVALID_HANDLE;
  }
  // The texts are the system's: copied below, released on return.
  const ScopedGlobalMemory aTexts[] = {ScopedGlobalMemory(option[0].Value.pszValue),
                                       ScopedGlobalMemory(option[3].Value.pszValue),
                                       ScopedGlobalMemory(option[4].Value.pszValue)};
  options.bFlagsQueried = true;
  options.iFlags = option[2].Value.dwValue;
  if (option[0].Value.pszValue && *option[0].Value.pszValue) {
    options.sWPADLocation.assign(option[0].Value.pszValue, strnlen(option[0].Value.pszValue, kWPADLocationSize - 1));
    QV_LOG(kDP, 0, kSource, "Option[0]");
  }
  if (options.iFlags & PROXY_TYPE_AUTO_PROXY_URL) QV_LOG(kDP, 0, kSource, "Option[2], PROXY_TYPE_AUTO_PROXY_URL");
  if (options.iFlags & PROXY_TYPE_AUTO_DETECT) QV_LOG(kDP, 0, kSource, "Option[2], PROXY_TYPE_AUTO_DETECT");
  if (option[3].Value.pszValue) {
    options.bHasByPass = true;
    options.sByPass = option[3].Value.pszValue;
    QV_LOG(kDP, 0, kSource, "Option[3]");
  }
  if (option[4].Value.pszValue) {
    options.bHasProxyServer = true;
    options.sProxyServer = option[4].Value.pszValue;
    QV_LOG(kDP, 0, kSource, "Option[4]");
  }
  return true;
}

void HR::Detect(const char* sURL, const char* sIP, int iPort, char* sWPADLocation, char* sProxyList) {
  sProxyList[0] = 0;
  const bool bRan = Guarded(kDetect, 0, [&] {
    DetectSteps(sURL, sIP, iPort, sWPADLocation, sProxyList);
    return true;
  });
  if (!bRan) sProxyList[0] = 0;
}

void HR::DetectSteps(const char* sURL, const char* sIP, int iPort, char* sWPADLocation, char* sProxyList) {
  std::string sURLText, sHostText;
  RequestText::ScriptQuestion(sIP, iPort, sURL, HLibDeployment::ServiceDomains(),
                              HLibDeployment::kServiceDomainCount, HLibDeployment::PublicHttpsSite(), sURLText,
                              sHostText);
  QV_LOG(kDetect, 0, kSource, "host=%s; url=%s, WPADLocation = %s", sHostText.c_str(), sURLText.c_str(),
         sWPADLocation);
  ScriptEngine engine;
  if (!LoadScriptEngine(engine)) return;
  if (sWPADLocation[0] == 0 &&
      !DetectAutoProxyUrl(sWPADLocation, static_cast<DWORD>(kWPADLocationSize),
                          PROXY_AUTO_DETECT_TYPE_DHCP | PROXY_AUTO_DETECT_TYPE_DNS_A)) {
    sWPADLocation[0] = 0;
    QV_LOG(kDetect, 0, kSource, "Failed to Detect 333 %d", static_cast<int>(GetLastError()));
    return;
  }
  sWPADLocation[kWPADLocationSize - 1] = 0;
  char sTempFile[MAX_PATH + 1] = {0};
  if (DownloadScript(sWPADLocation, sTempFile)) AskEngine(engine, sTempFile, sURLText, sHostText, sWPADLocation,
                                                          sProxyList);
}

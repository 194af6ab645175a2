#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <wininet.h>
#include <urlmon.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "code/hlib/hlib.h"
#include "code/hlib/requesttext.h"
#include "code/hlib/serveraccess.h"
#include "code/utility/logsink.h"
#include "code/utility/myconfigure.h"
#include "code/utility/queryprotection.h"
#include "code/utility/sockerror.h"
#include "code/utility/socketdownload.h"
#include "code/utility/userdirs.h"

namespace {
const char kSource[] = "code/hlib/hlib";
const char kGetPage[] = "HLib::GetPage";
const char kSendRequest[] = "HR::SendRequest";
const char kDoRequest[] = "HR::DoRequest";
const char kDetect[] = "HR::Detect";
const char kContentType[] = "Content-Type: application/x-www-form-urlencoded";
// A credentials dialog answered with "retry" over and over ends here.
const int kMaxResends = 5;

const char* YN(bool b) { return b ? "Y" : "N"; }
const char* OrEmpty(const char* s) { return s ? s : ""; }
const char* OrNull(const char* s) { return (s && *s) ? s : nullptr; }

HINTERNET H(void* h) { return static_cast<HINTERNET>(h); }

void CloseInternet(void*& h) {
  if (h) InternetCloseHandle(H(h));
  h = nullptr;
}

void SetTimeouts(HINTERNET hInternet, bool bLog) {
  DWORD lTimeout = static_cast<DWORD>(Utility::GetSocketTimeoutMs());
  struct {
    DWORD iOption;
    const char* sFormat;
  } options[] = {
      {INTERNET_OPTION_CONNECT_TIMEOUT, "Conn lTimeout=%d, error code: %d, error: %s"},
      {INTERNET_OPTION_RECEIVE_TIMEOUT, "Recv lTimeout=%d, error code: %d, error: %s"},
      {INTERNET_OPTION_SEND_TIMEOUT, "Send lTimeout=%d, error code: %d, error: %s"},
  };
  for (const auto& o : options) {
    if (!InternetSetOptionA(hInternet, o.iOption, &lTimeout, sizeof(lTimeout)) && bLog) {
      const int iError = static_cast<int>(GetLastError());
      QV_LOG(kDoRequest, 3, kSource, o.sFormat, static_cast<int>(lTimeout), iError, GetSocketErrorText(iError));
    }
  }
  if (bLog) QV_LOG(kDoRequest, 3, kSource, "after ISO lTimeout = %d", static_cast<int>(lTimeout));
}

bool ResolveForStore(const char* sHost, std::string& sIP) { return Utility::ResolveHostName(sHost, sIP); }

// The store is loaded from the configuration cache on first use; the caller
// holds the store's lock.
void LoadStoreLocked(ServerAccess::Shared& shared) {
  if (shared.bLoaded) return;
  shared.bLoaded = true;
  MyConfigure* pConfigure = MyConfigure::GetInstance();
  if (pConfigure == nullptr) return;
  char sValue[ServerAccess::kStoreSize] = {0};
  if (pConfigure->ReadConfigure(ServerAccess::kStartTag, ServerAccess::kEndTag, sValue)) shared.sText = sValue;
}

void SaveStoreLocked(const ServerAccess::Shared& shared) {
  MyConfigure* pConfigure = MyConfigure::GetInstance();
  if (pConfigure) pConfigure->WriteConfigure(ServerAccess::kStartTag, ServerAccess::kEndTag, shared.sText.c_str());
}

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
}  // namespace

// ---------------------------------------------------------------------------
// Reading a reply

bool HR::HasKeyword() const {
  return RequestText::ContainsKeyword(m_pReceiveBuffer, static_cast<std::size_t>(m_iMaxLength), m_sKeyInReturn);
}

void HR::CloseHandles() {
  CloseInternet(m_hRequest);
  CloseInternet(m_hConnect);
  CloseInternet(m_hInternet);
}

bool HR::ReadReply(void* hRequest, const char* sFunction, const char* sChunkFunction, const char* sFailFormat) {
  if (m_pReceiveBuffer == nullptr || m_iMaxLength < 1) return false;
  std::memset(m_pReceiveBuffer, 0, static_cast<std::size_t>(m_iMaxLength));
  if (m_bUseMinReadBuffer && m_iExpectedReceiveSize > 0) {
    // Straight into the caller's buffer at increasing offsets; a layer that
    // starts again after another one failed starts at the buffer's start.
    m_iCurrentlyReceived = 0;
    int iRemaining = m_iExpectedReceiveSize;
    while (iRemaining > 0) {
      const DWORD iWant = static_cast<DWORD>(iRemaining < kChunkSize ? iRemaining : kChunkSize);
      DWORD iRead = 0;
      const BOOL bOk = InternetReadFile(H(hRequest), m_pReceiveBuffer + m_iCurrentlyReceived, iWant, &iRead);
      if (!bOk || iRead == 0) {
        const int iError = static_cast<int>(GetLastError());
        QV_LOG(sChunkFunction, 3, kSource, "IRE() error code: %d, error: %s", iError, GetSocketErrorText(iError));
        if (bOk)
          QV_LOG(sChunkFunction, 3, kSource, "reply ended after %d of %d bytes", m_iCurrentlyReceived.load(),
                 m_iExpectedReceiveSize);
        return false;
      }
      if (iRead > iWant) iRead = iWant;
      m_iCurrentlyReceived += static_cast<int>(iRead);
      iRemaining -= static_cast<int>(iRead);
    }
    return true;
  }
  // Read until the reply ends or the buffer is full; a text reply (no size
  // expected) keeps one byte for its terminator.
  const DWORD iCapacity = static_cast<DWORD>(m_iExpectedReceiveSize > 0 ? m_iMaxLength : m_iMaxLength - 1);
  DWORD iTotal = 0;
  for (;;) {
    if (iTotal >= iCapacity) break;
    DWORD iRead = 0;
    if (!InternetReadFile(H(hRequest), m_pReceiveBuffer + iTotal, iCapacity - iTotal, &iRead)) {
      const int iError = static_cast<int>(GetLastError());
      QV_LOG(sFunction, 3, kSource, sFailFormat, iError, GetSocketErrorText(iError));
      return false;
    }
    if (iRead == 0) break;
    iTotal += iRead > iCapacity - iTotal ? iCapacity - iTotal : iRead;
  }
  DWORD iAnnounced = 0;
  DWORD iSize = sizeof(iAnnounced);
  if (iTotal < iCapacity &&
      HttpQueryInfoA(H(hRequest), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &iAnnounced, &iSize, nullptr) &&
      iTotal < iAnnounced) {
    QV_LOG(sFunction, 3, kSource, "reply ended after %d of %d bytes", static_cast<int>(iTotal),
           static_cast<int>(iAnnounced));
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// One request

bool HR::DoRequest(const char* sURL, const char* sIP, int iPort, bool bSecure, const char* sVerb, char cPType,
                   const char* sByPass, const char* sPAddress, const char* sPostData) {
  try {
    return DoRequestInner(sURL, sIP, iPort, bSecure, sVerb, cPType, sByPass, sPAddress, sPostData);
  } catch (...) {
    QV_LOG(kDoRequest, 3, kSource, "error code=%d", static_cast<int>(GetLastError()));
    return false;
  }
}

bool HR::DoRequestInner(const char* sURL, const char* sIP, int iPort, bool bSecure, const char* sVerb, char cPType,
                        const char* sByPass, const char* sPAddress, const char* sPostData) {
  if (std::strcmp(OrEmpty(sIP), "127.0.0.1") == 0) {
    QV_LOG(kDoRequest, 0, kSource, "Skip 127.0.0.1");
    return false;
  }
  // Handles of an earlier attempt of this request are not needed any more.
  CloseHandles();
  DWORD iConnections = 10;
  InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &iConnections, sizeof(iConnections));
  InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER, &iConnections, sizeof(iConnections));
  const std::string sLogURL = RequestText::LogFormOfURL(sURL);
  QV_LOG(kDoRequest, 0, kSource,
         "Begin HR::DoRequest(), sIP = %s, iPort = %d, cPType=%c, sByPass=%s, sPAddress=%s, URL=%s", OrEmpty(sIP),
         iPort, cPType, OrEmpty(sByPass), OrEmpty(sPAddress), sLogURL.c_str());

  const char kAgent[] = "Microsoft Internet Explorer";
  HINTERNET hInternet = nullptr;
  if (cPType == 'D') {
    hInternet = InternetOpenA(kAgent, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  } else if (cPType == 'L') {
    hInternet = InternetOpenA(kAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  } else {
    hInternet = InternetOpenA(kAgent, INTERNET_OPEN_TYPE_PROXY, OrEmpty(sPAddress), OrNull(sByPass), 0);
  }
  m_hInternet = hInternet;
  if (hInternet == nullptr) {
    const int iError = static_cast<int>(GetLastError());
    QV_LOG(kDoRequest, 3, kSource, "I-Open failed error code: %d, error: %s", iError, GetSocketErrorText(iError));
    return false;
  }
  SetTimeouts(hInternet, true);

  const std::string sObject = RequestText::AddTimeParameter(sURL, static_cast<long long>(std::time(nullptr)));
  m_hConnect = InternetConnectA(hInternet, sIP, static_cast<INTERNET_PORT>(iPort), nullptr, nullptr,
                                INTERNET_SERVICE_HTTP, 0, 0);
  if (m_hConnect == nullptr) {
    const int iError = static_cast<int>(GetLastError());
    QV_LOG(kDoRequest, 3, kSource, "failed to connect. error code: %d, error: %s", iError, GetSocketErrorText(iError));
    return false;
  }
  QV_LOG(kDoRequest, 3, kSource, "after IC");
  const DWORD iFlags = bSecure ? (INTERNET_FLAG_SECURE | INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_CACHE_WRITE) : 0;
  m_hRequest = HttpOpenRequestA(H(m_hConnect), sVerb, sObject.c_str(), nullptr, nullptr, nullptr, iFlags, 0);
  if (m_hRequest == nullptr) {
    const int iError = static_cast<int>(GetLastError());
    QV_LOG(kDoRequest, 3, kSource, "failed to open-r: error code: %d, error: %s", iError, GetSocketErrorText(iError));
    return false;
  }
  QV_LOG(kDoRequest, 3, kSource, "after HR");

  for (int iSend = 0;; ++iSend) {
    DWORD iSecurity = 0;
    DWORD iLength = sizeof(iSecurity);
    InternetQueryOptionA(H(m_hRequest), INTERNET_OPTION_SECURITY_FLAGS, &iSecurity, &iLength);
    iSecurity |= SECURITY_FLAG_IGNORE_REVOCATION | SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_WRONG_USAGE |
                 SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
    InternetSetOptionA(H(m_hRequest), INTERNET_OPTION_SECURITY_FLAGS, &iSecurity, sizeof(iSecurity));
    BOOL bSent;
    if (std::strcmp(OrEmpty(sVerb), "POST") == 0) {
      bSent = HttpSendRequestA(H(m_hRequest), kContentType, static_cast<DWORD>(std::strlen(kContentType)),
                               const_cast<char*>(OrEmpty(sPostData)), static_cast<DWORD>(std::strlen(OrEmpty(sPostData))));
    } else {
      bSent = HttpSendRequestA(H(m_hRequest), nullptr, 0, nullptr, 0);
    }
    if (!bSent) {
      const int iError = static_cast<int>(GetLastError());
      QV_LOG(kDoRequest, 3, kSource, "HSR failed. error code: %d, error: %s", iError, GetSocketErrorText(iError));
      return false;
    }
    QV_LOG(kDoRequest, 3, kSource, "after HSR");
    DWORD dwCode = 0;
    iLength = sizeof(dwCode);
    if (!HttpQueryInfoA(H(m_hRequest), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &dwCode, &iLength, nullptr)) {
      const int iError = static_cast<int>(GetLastError());
      QV_LOG(kDoRequest, 3, kSource, "HQ() failed error code: %d, error: %s", iError, GetSocketErrorText(iError));
      return false;
    }
    QV_LOG(kDoRequest, 3, kSource, "after HQI");
    if (dwCode == 0) {
      // No status line at all: the connection ended before any reply.
      QV_LOG(kDoRequest, 3, kSource, "no reply from %s:%d", OrEmpty(sIP), iPort);
      return false;
    }
    if (dwCode != HTTP_STATUS_DENIED && dwCode != HTTP_STATUS_PROXY_AUTH_REQ) break;
    QV_LOG(kDoRequest, 3, kSource, "after HQI troubled dwCode = %d", static_cast<int>(dwCode));
    char sDiscard[50];
    DWORD iRead = 0;
    for (int i = 0; i < 100000 && InternetReadFile(H(m_hRequest), sDiscard, sizeof(sDiscard), &iRead) && iRead > 0; ++i) {
    }
    QV_LOG(kDoRequest, 3, kSource, "after IRF");
    const DWORD iAnswer = InternetErrorDlg(GetDesktopWindow(), H(m_hRequest), ERROR_INTERNET_INCORRECT_PASSWORD,
                                           FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
                                               FLAGS_ERROR_UI_FLAGS_GENERATE_DATA,
                                           nullptr);
    if (iAnswer != ERROR_INTERNET_FORCE_RETRY || iSend + 1 >= kMaxResends) break;
    const int iError = static_cast<int>(GetLastError());
    QV_LOG(kDoRequest, 3, kSource, "HSR resend -- ERROR_INTERNET_FORCE_RETRY failed error code: %d, error: %s", iError,
           GetSocketErrorText(iError));
  }
  QV_LOG(kDoRequest, 0, kSource, "HR::DoRequest succeeded! m_iExpectedReceiveSize = %d, m_bUseMinReadBuffer = %s",
         m_iExpectedReceiveSize, YN(m_bUseMinReadBuffer));
  if (m_sKeyInReturn == nullptr) return true;
  try {
    if (!ReadReply(m_hRequest, kDoRequest, kDoRequest, "IRE() error code: %d, error: %s")) return false;
  } catch (...) {
    const int iError = static_cast<int>(GetLastError());
    QV_LOG(kDoRequest, 3, kSource, "CRASHED --- error code=%d, error = %s", iError, GetSocketErrorText(iError));
    return false;
  }
  QV_LOG(kDoRequest, 0, kSource, (m_bUseMinReadBuffer && m_iExpectedReceiveSize > 0)
                                     ? "HR::DoRequest succeeded! Read1 Completed!"
                                     : "HR::DoRequest succeeded! Read2 Completed!");
  if (!HasKeyword()) {
    std::string sText(m_pReceiveBuffer, strnlen(m_pReceiveBuffer, static_cast<std::size_t>(m_iMaxLength)));
    QV_LOG(kDoRequest, 3, kSource, "Invalid page returned: %s", sText.c_str());
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// The server access settings

void HR::AddCache(const char* sIP, int iPort, bool bSecure, char cPType, const char* sByPass, const char* sPAddress) {
  ServerAccess::Shared& shared = ServerAccess::GetShared();
  std::lock_guard<std::mutex> lock(shared.mutex);
  LoadStoreLocked(shared);
  const ServerAccess::AddResult r =
      ServerAccess::Add(shared.sText, sIP, iPort, bSecure, cPType, sByPass, sPAddress, &ResolveForStore);
  if (r == ServerAccess::AddResult::kAdded || r == ServerAccess::AddResult::kReplaced) SaveStoreLocked(shared);
}

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
    QV_LOG("HR::DP", 0, kSource, "Failed to InternetQueryOption %d", static_cast<int>(iError));
    return iError != 12178 && iError != ERROR_INVALID_HANDLE;
  }
  options.bFlagsQueried = true;
  options.iFlags = option[2].Value.dwValue;
  if (option[0].Value.pszValue && *option[0].Value.pszValue) {
    options.sWPADLocation.assign(option[0].Value.pszValue,
                                 strnlen(option[0].Value.pszValue, kWPADLocationSize - 1));
    QV_LOG("HR::DP", 0, kSource, "Option[0]");
  }
  if (options.iFlags & PROXY_TYPE_AUTO_PROXY_URL) QV_LOG("HR::DP", 0, kSource, "Option[2], PROXY_TYPE_AUTO_PROXY_URL");
  if (options.iFlags & PROXY_TYPE_AUTO_DETECT) QV_LOG("HR::DP", 0, kSource, "Option[2], PROXY_TYPE_AUTO_DETECT");
  if (option[3].Value.pszValue) {
    options.bHasByPass = true;
    options.sByPass = option[3].Value.pszValue;
    QV_LOG("HR::DP", 0, kSource, "Option[3]");
  }
  if (option[4].Value.pszValue) {
    options.bHasProxyServer = true;
    options.sProxyServer = option[4].Value.pszValue;
    QV_LOG("HR::DP", 0, kSource, "Option[4]");
  }
  // The texts are the system's; copied above, released here.
  for (int i : {0, 3, 4})
    if (option[i].Value.pszValue) GlobalFree(option[i].Value.pszValue);
  return true;
}

// ---------------------------------------------------------------------------
// The first layer

bool HR::SendRequest(const char* sURL, const char* sIP, int iPort, bool bSecure, const char* sVerb,
                     const char* sPostData) {
  std::lock_guard<std::mutex> lock(m_csRequest);
  try {
    return SendRequestLocked(sURL, sIP, iPort, bSecure, sVerb, sPostData);
  } catch (...) {
    QV_LOG(kSendRequest, 3, kSource, "error code=%d", static_cast<int>(GetLastError()));
    return false;
  }
}

bool HR::TryScript(const char* sURL, const char* sIP, int iPort, bool bSecure, const char* sVerb,
                   const char* sPostData, char* sWPADLocation, const char* sStep) {
  char sProxyList[kProxyListSize] = {0};
  Detect(sURL, sIP, iPort, sWPADLocation, sProxyList);
  if (sProxyList[0] == 0) {
    QV_LOG(kSendRequest, 0, kSource, "empty after %s", sStep);
    return false;
  }
  QV_LOG(kSendRequest, 0, kSource, "%s after %s", sProxyList, sStep);
  return SetOptionA(sURL, sIP, iPort, bSecure, sVerb, sProxyList, sPostData);
}

bool HR::SendRequestLocked(const char* sURL, const char* sIP, int iPort, bool bSecure, const char* sVerb,
                           const char* sPostData) {
  QV_LOG(kSendRequest, 0, kSource, "HR::SendRequest NEW session for sIP = %s on iPort = %d", OrEmpty(sIP), iPort);
  const std::string sLogURL = RequestText::LogFormOfURL(sURL);
  bool bConnectionSucceeded = false;

  ServerAccess::Setting setting;
  bool bFound;
  {
    ServerAccess::Shared& shared = ServerAccess::GetShared();
    std::lock_guard<std::mutex> lock(shared.mutex);
    LoadStoreLocked(shared);
    bFound = ServerAccess::Find(shared.sText, sIP, iPort, &ResolveForStore, setting);
  }
  if (bFound) {
    QV_LOG(kSendRequest, 0, kSource, "Using aServerAccessSetting[%d] = %s", setting.iIndex, setting.sLine.c_str());
    bConnectionSucceeded = DoRequest(sURL, sIP, iPort, bSecure, sVerb, setting.cPType, setting.sByPass.c_str(),
                                     setting.sPAddress.c_str(), sPostData);
    if (bConnectionSucceeded) {
      QV_LOG(kSendRequest, 0, kSource, "OK with aServerAccessSetting[i] = %s, URL = %s", setting.sLine.c_str(),
             sLogURL.c_str());
    } else {
      ServerAccess::Shared& shared = ServerAccess::GetShared();
      std::lock_guard<std::mutex> lock(shared.mutex);
      if (ServerAccess::RemoveLine(shared.sText, setting.sLine)) SaveStoreLocked(shared);
      QV_LOG(kSendRequest, 0, kSource, "Failed with aServerAccessSetting[i] = %s, URL = %s", setting.sLine.c_str(),
             sLogURL.c_str());
    }
  }
  if (!bConnectionSucceeded) {
    QV_LOG(kSendRequest, 0, kSource, "No valid/matched aServerAccessSetting");
    SystemProxyOptions options;
    if (!DP(options)) {
      QV_LOG(kSendRequest, 0, kSource, "HR::SendRequest failed! %s, %s, %d", sLogURL.c_str(), OrEmpty(sIP),
             2 * iPort + 10);
      return false;
    }
    bConnectionSucceeded = SetOptionR(sURL, sIP, iPort, bSecure, sVerb, options.sByPass.c_str(),
                                      options.bHasProxyServer ? options.sProxyServer.c_str() : nullptr, sPostData);
    QV_LOG(kSendRequest, 0, kSource, "After SetOptionR() bConnectionSucceeded = %s", YN(bConnectionSucceeded));

    char sWPADLocation[kWPADLocationSize] = {0};
    std::memcpy(sWPADLocation, options.sWPADLocation.data(), options.sWPADLocation.size());
    if (!bConnectionSucceeded && sWPADLocation[0]) {
      bConnectionSucceeded = TryScript(sURL, sIP, iPort, bSecure, sVerb, sPostData, sWPADLocation, "auto URL");
    } else {
      QV_LOG(kSendRequest, 0, kSource, "WPADLocation = %s, bConnectionSucceeded = %s", sWPADLocation,
             YN(bConnectionSucceeded));
    }
    if (!bConnectionSucceeded && (options.iFlags & PROXY_TYPE_AUTO_DETECT)) {
      sWPADLocation[0] = 0;
      bConnectionSucceeded = TryScript(sURL, sIP, iPort, bSecure, sVerb, sPostData, sWPADLocation, "auto detect");
    } else {
      QV_LOG(kSendRequest, 0, kSource, "Option[2].Value.dwValue = %d, bConnectionSucceeded = %s",
             static_cast<int>(options.iFlags), YN(bConnectionSucceeded));
    }
  }
  if (bConnectionSucceeded) {
    std::string sStore;
    {
      ServerAccess::Shared& shared = ServerAccess::GetShared();
      std::lock_guard<std::mutex> lock(shared.mutex);
      sStore = shared.sText;
    }
    QV_LOG(kSendRequest, 0, kSource, "HR::SendRequest succeeded! m_sServerAccessSetting = %s", sStore.c_str());
  } else {
    QV_LOG(kSendRequest, 0, kSource, "HR::SendRequest failed! %s, %s, %d", sLogURL.c_str(), OrEmpty(sIP),
           2 * iPort + 10);
  }
  return bConnectionSucceeded;
}

bool HLib::SetOptionR(const char* sURL, const char* sIP, int iPort, bool bSecure, const char* sVerb,
                      const char* sByPass, const char* sProxyServer, const char* sPostData) {
  try {
    const struct {
      char cPType;
    } direct[] = {{'D'}, {'L'}};
    for (const auto& d : direct) {
      if (DoRequest(sURL, sIP, iPort, bSecure, sVerb, d.cPType, sByPass, "", sPostData)) {
        AddCache(sIP, iPort, bSecure, d.cPType, sByPass, "");
        return true;
      }
    }
    if (sProxyServer == nullptr || *sProxyServer == 0) return false;
    if (std::strchr(sProxyServer, '=') == nullptr) {
      if (!DoRequest(sURL, sIP, iPort, bSecure, sVerb, 'P', sByPass, sProxyServer, sPostData)) return false;
      AddCache(sIP, iPort, bSecure, 'P', sByPass, sProxyServer);
      return true;
    }
    // A per-protocol list: its "https=" entry, then its "socks=" entry.
    const struct {
      const char* sName;
      char cPType;
    } entries[] = {{"https=", 'H'}, {"socks=", 'S'}};
    for (const auto& e : entries) {
      const std::string sEntry = RequestText::ProtocolEntry(sProxyServer, e.sName);
      if (sEntry.empty()) continue;
      if (DoRequest(sURL, sIP, iPort, bSecure, sVerb, e.cPType, sByPass, sEntry.c_str(), sPostData)) {
        AddCache(sIP, iPort, bSecure, e.cPType, sByPass, sEntry.c_str());
        return true;
      }
    }
    return false;
  } catch (...) {
    QV_LOG("HLib::SetOptionR", 3, kSource, "error code=%d", static_cast<int>(GetLastError()));
    return false;
  }
}

bool HLib::SetOptionA(const char* sURL, const char* sIP, int iPort, bool bSecure, const char* sVerb,
                      const char* sProxyList, const char* sPostData) {
  try {
    for (const RequestText::ProxyCandidate& c : RequestText::ScriptCandidates(sProxyList)) {
      if (DoRequest(sURL, sIP, iPort, bSecure, sVerb, c.cPType, "", c.sPAddress.c_str(), sPostData)) {
        AddCache(sIP, iPort, bSecure, c.cPType, "", c.sPAddress.c_str());
        return true;
      }
    }
    return false;
  } catch (...) {
    QV_LOG("HLib::SetOptionA", 3, kSource, "error code=%d", static_cast<int>(GetLastError()));
    return false;
  }
}

// ---------------------------------------------------------------------------
// The auto-config script

void HR::Detect(const char* sURL, const char* sIP, int iPort, char* sWPADLocation, char* sProxyList) {
  sProxyList[0] = 0;
  try {
    DetectInner(sURL, sIP, iPort, sWPADLocation, sProxyList);
  } catch (...) {
    sProxyList[0] = 0;
    QV_LOG(kDetect, 0, kSource, "error code=%d", static_cast<int>(GetLastError()));
  }
}

void HR::DetectInner(const char* sURL, const char* sIP, int iPort, char* sWPADLocation, char* sProxyList) {
  std::string sURLText, sHostText;
  RequestText::ScriptQuestion(sIP, iPort, sURL, HLibDeployment::ServiceDomains(),
                              HLibDeployment::kServiceDomainCount, HLibDeployment::PublicHttpsSite(), sURLText,
                              sHostText);
  QV_LOG(kDetect, 0, kSource, "host=%s; url=%s, WPADLocation = %s", sHostText.c_str(), sURLText.c_str(),
         sWPADLocation);
  HMODULE hEngine = LoadLibraryA("jsproxy.dll");
  if (hEngine == nullptr) {
    QV_LOG(kDetect, 0, kSource, "Failed to 111 LoadLibrary %d", static_cast<int>(GetLastError()));
    return;
  }
  struct ModuleHolder {
    HMODULE h;
    ~ModuleHolder() { FreeLibrary(h); }
  } holder{hEngine};
  auto pInit = reinterpret_cast<pfnInternetInitializeAutoProxyDll>(
      reinterpret_cast<void*>(GetProcAddress(hEngine, "InternetInitializeAutoProxyDll")));
  auto pDeInit = reinterpret_cast<pfnInternetDeInitializeAutoProxyDll>(
      reinterpret_cast<void*>(GetProcAddress(hEngine, "InternetDeInitializeAutoProxyDll")));
  auto pGetProxy = reinterpret_cast<pfnInternetGetProxyInfo>(
      reinterpret_cast<void*>(GetProcAddress(hEngine, "InternetGetProxyInfo")));
  if (!pInit || !pDeInit || !pGetProxy) {
    QV_LOG(kDetect, 0, kSource, "Failed to 222 GetProcAddress %d", static_cast<int>(GetLastError()));
    return;
  }
  if (sWPADLocation[0] == 0 &&
      !DetectAutoProxyUrl(sWPADLocation, static_cast<DWORD>(kWPADLocationSize),
                          PROXY_AUTO_DETECT_TYPE_DHCP | PROXY_AUTO_DETECT_TYPE_DNS_A)) {
    sWPADLocation[0] = 0;
    QV_LOG(kDetect, 0, kSource, "Failed to Detect 333 %d", static_cast<int>(GetLastError()));
    return;
  }
  sWPADLocation[kWPADLocationSize - 1] = 0;
  char sTempFolder[MAX_PATH + 1] = {0};
  char sTempFile[MAX_PATH + 1] = {0};
  const DWORD iFolder = GetTempPathA(sizeof(sTempFolder), sTempFolder);
  if (iFolder == 0 || iFolder >= 512 || GetTempFileNameA(sTempFolder, "", 0, sTempFile) == 0) {
    QV_LOG(kDetect, 0, kSource, "Failed to 444 error %d return value %d for WPADLocation = %s",
           static_cast<int>(GetLastError()), 0, sWPADLocation);
    return;
  }
  URLDownloadToFileA(nullptr, sWPADLocation, sTempFile, 0, nullptr);
  if (FILE* f = std::fopen(sTempFile, "rt")) {
    std::string sScript;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), f)) > 0 && sScript.size() < 1024 * 1024) sScript.append(buffer, n);
    std::fclose(f);
    QV_LOG(kDetect, 0, kSource, "The script: %s", sScript.c_str());
  }
  AutoProxyHelperFunctions helpers;
  helpers.lpVtbl = reinterpret_cast<const AutoProxyHelperVtbl*>(&g_scriptHelpers);
  const BOOL bInit = pInit(1, sTempFile, nullptr, &helpers, nullptr);
  if (!bInit) {
    QV_LOG(kDetect, 0, kSource, "Failed to 444 error %d return value %d for WPADLocation = %s",
           static_cast<int>(GetLastError()), static_cast<int>(bInit), sWPADLocation);
    DeleteFileA(sTempFile);
    return;
  }
  LPSTR pAnswer = nullptr;
  DWORD iAnswer = 0;
  const BOOL bGot = pGetProxy(sURLText.c_str(), static_cast<DWORD>(sURLText.size()), const_cast<char*>(sHostText.c_str()),
                              static_cast<DWORD>(sHostText.size()), &pAnswer, &iAnswer);
  if (pAnswer) {
    const std::size_t iLength = strnlen(pAnswer, iAnswer ? (iAnswer < kProxyListSize ? iAnswer : kProxyListSize - 1)
                                                         : kProxyListSize - 1);
    std::memcpy(sProxyList, pAnswer, iLength < kProxyListSize ? iLength : kProxyListSize - 1);
    sProxyList[iLength < kProxyListSize ? iLength : kProxyListSize - 1] = 0;
    GlobalFree(pAnswer);
  }
  if (!bGot) QV_LOG(kDetect, 0, kSource, "Failed to 555 error %d, %s", static_cast<int>(GetLastError()), sProxyList);
  DeleteFileA(sTempFile);
  QV_LOG(kDetect, 0, kSource, "666 %s", sProxyList);
  if (!pDeInit(nullptr, 0)) QV_LOG(kDetect, 0, kSource, "Failed to 777 error %d", static_cast<int>(GetLastError()));
}

// ---------------------------------------------------------------------------
// The page request with its fallbacks

bool HLib::PlainRequest(const char* sURL, const char* sIP, int iPort) {
  HINTERNET hInternet = InternetOpenA("Internet Explorer", INTERNET_OPEN_TYPE_PROXY, nullptr, nullptr, 0);
  if (hInternet == nullptr) hInternet = InternetOpenA("Internet Explorer", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  // A silent server must not hold this layer for ever either.
  if (hInternet) SetTimeouts(hInternet, false);
  HINTERNET hConnect =
      hInternet ? InternetConnectA(hInternet, sIP, static_cast<INTERNET_PORT>(iPort), nullptr, nullptr,
                                   INTERNET_SERVICE_HTTP, 0, 1)
                : nullptr;
  HINTERNET hRequest = hConnect ? HttpOpenRequestA(hConnect, "GET", sURL, nullptr, nullptr, nullptr, 0, 1) : nullptr;
  bool bFailed = false;
  DWORD dwCode = 0;
  DWORD iLength = sizeof(dwCode);
  if (!HttpSendRequestA(hRequest, kContentType, static_cast<DWORD>(std::strlen(kContentType)), nullptr, 0)) {
    const int iError = static_cast<int>(GetLastError());
    QV_LOG(kGetPage, 3, kSource, "HSR() failed, error code: %d, error: %s", iError, GetSocketErrorText(iError));
    bFailed = true;
  } else if (!HttpQueryInfoA(hRequest, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &dwCode, &iLength, nullptr) ||
             dwCode == 0) {
    // The status itself does not matter here, but a reply there must be.
    QV_LOG(kGetPage, 3, kSource, "no reply from %s:%d", sIP, iPort);
    bFailed = true;
  } else {
    if (!ReadReply(hRequest, kGetPage, "HR::GetPage", "IRE() failed, error code: %d, error: %s")) bFailed = true;
    if (!bFailed && !HasKeyword()) {
      const int iError = static_cast<int>(GetLastError());
      QV_LOG(kGetPage, 3, kSource, "No keyword, error code: %d, error: %s", iError, GetSocketErrorText(iError));
      bFailed = true;
    }
  }
  if (hRequest) InternetCloseHandle(hRequest);
  if (hConnect) InternetCloseHandle(hConnect);
  if (hInternet) InternetCloseHandle(hInternet);
  return !bFailed;
}

bool HLib::SocketRequest(const char* sURL, const char* sIP, int iPort, const std::string& sLogURL, int* piPort) {
  QV_LOG(kGetPage, 0, kSource, "HTTP fialed. Now try TCP for URL = %s", sLogURL.c_str());
  const int iSocketPort = iPort == 443 ? 80 : iPort;
  *piPort = iSocketPort;
  const std::string sSocketURL = RequestText::SocketURL(sIP, iSocketPort, sURL);
  m_pReceiveBuffer[0] = 0;
  char* pData = nullptr;
  int iSize = 0;
  if (m_bUseMinReadBuffer && m_iExpectedReceiveSize > 0) m_iCurrentlyReceived = 0;
  if (!Utility::URLDownload(sSocketURL.c_str(), m_iExpectedReceiveSize, m_iMaxLength, m_bUseMinReadBuffer, &pData, &iSize,
                            &m_iCurrentlyReceived)) {
    delete[] pData;
    return false;
  }
  if (iSize < 1 || pData == nullptr) {
    delete[] pData;
    return false;
  }
  // A text reply keeps its terminator inside the buffer.
  const int iCapacity = m_iExpectedReceiveSize > 0 ? m_iMaxLength : m_iMaxLength - 1;
  const int iCopy = iSize < iCapacity ? iSize : iCapacity;
  std::memcpy(m_pReceiveBuffer, pData, static_cast<std::size_t>(iCopy));
  delete[] pData;
  if (!HasKeyword()) {
    const int iError = static_cast<int>(GetLastError());
    QV_LOG(kGetPage, 3, kSource, "No keyword, error code: %d, error: %s", iError, GetSocketErrorText(iError));
  }
  return true;
}

bool HLib::GetPage(const char* sIP, int iPort, char* sURL, int iMaxLength, const char* sKeyInReturn, char* pBuffer,
                   int* piPort, std::size_t iURLSize) {
  int iUnusedPort = 0;
  if (piPort == nullptr) piPort = &iUnusedPort;
  *piPort = iPort;
  if (sIP == nullptr || *sIP == 0) {
    QV_LOG(kGetPage, 0, kSource, "Empty IP, iPort = %d, URL = %s, m_iExpectedReceiveSize = %d", iPort, OrEmpty(sURL),
           m_iExpectedReceiveSize);
    return false;
  }
  if (sURL == nullptr || pBuffer == nullptr || iMaxLength < 1) return false;
  Utility::AddRandomParameter(sURL, iURLSize ? iURLSize : std::strlen(sURL) + Utility::kRandomParameterRoom + 1);
  const std::string sLogURL = RequestText::LogFormOfURL(sURL);
  QV_LOG(kGetPage, 0, kSource, "sIP = %s, iPort = %d, URL = %s, m_iExpectedReceiveSize = %d", sIP, iPort,
         sLogURL.c_str(), m_iExpectedReceiveSize);
  if (m_iExpectedReceiveSize > iMaxLength) {
    QV_LOG(kGetPage, 3, kSource, "m_iExpectedReceiveSize = %d does not fit the buffer of %d bytes",
           m_iExpectedReceiveSize, iMaxLength);
    return false;
  }
  std::memset(pBuffer, 0, static_cast<std::size_t>(iMaxLength));
  m_iMaxLength = iMaxLength;
  m_sKeyInReturn = sKeyInReturn ? sKeyInReturn : "";
  m_pReceiveBuffer = pBuffer;
  QV_LOG(kGetPage, 0, kSource, "bIsSystemUser = %s, g_oMyConfigure is NULL = %s, bHTTPFailed = %s",
         YN(Utility::IsSystemUser()), YN(MyConfigure::GetInstance() == nullptr), "N");

  bool bResult = SendRequest(sURL, sIP, iPort, iPort == 443, "GET", "");
  bool bSocket = false;
  try {
    CloseHandles();
    if (!bResult) bSocket = !PlainRequest(sURL, sIP, iPort);
    if (!bSocket && !bResult) bResult = true;
  } catch (...) {
    const int iError = static_cast<int>(GetLastError());
    QV_LOG(kGetPage, 3, kSource, "Crash, error code: %d, error: %s", iError, GetSocketErrorText(iError));
    bSocket = true;
  }
  if (bSocket) bResult = SocketRequest(sURL, sIP, iPort, sLogURL, piPort);
  m_iMaxLength = 0;
  m_sKeyInReturn = nullptr;
  m_pReceiveBuffer = nullptr;
  return bResult;
}

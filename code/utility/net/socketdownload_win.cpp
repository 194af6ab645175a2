#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <svcguid.h>

#include <cstring>
#include <memory>

#include "code/utility/log/logsink.h"
#include "code/utility/log/sockerror.h"
#include "code/utility/net/socketdownload.h"
#include "code/utility/system/scopedhandle_win.h"
#include "code/utility/text/textconv.h"

namespace {
const char kSource[] = "code/utility/utility";
const char kDownload[] = "Utility::URLDownload";

std::atomic<int> g_iSocketTimeoutMs{Utility::kSocketTimeoutMs};

// Connects with a time-out: a host that never answers must not hold the
// caller for ever. The socket is left blocking.
bool ConnectWithTimeout(SOCKET s, const sockaddr_in& address, int iTimeoutMs) {
  u_long iNonBlocking = 1;
  ioctlsocket(s, FIONBIO, &iNonBlocking);
  int iResult = connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
  if (iResult == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK) return false;
  if (iResult == SOCKET_ERROR) {
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval tv;
    tv.tv_sec = iTimeoutMs / 1000;
    tv.tv_usec = (iTimeoutMs % 1000) * 1000;
    iResult = select(0, nullptr, &writable, &failed, &tv);
    if (iResult == 0) {
      WSASetLastError(WSAETIMEDOUT);
      return false;
    }
    if (iResult == SOCKET_ERROR) return false;
    int iError = 0;
    int iLength = sizeof(iError);
    getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&iError), &iLength);
    if (iError != 0 || !FD_ISSET(s, &writable)) {
      WSASetLastError(iError != 0 ? iError : WSAECONNREFUSED);
      return false;
    }
  }
  iNonBlocking = 0;
  ioctlsocket(s, FIONBIO, &iNonBlocking);
  return true;
}
}  // namespace

namespace Utility {

void SetSocketTimeoutMs(int iMilliseconds) { g_iSocketTimeoutMs = iMilliseconds; }
int GetSocketTimeoutMs() { return g_iSocketTimeoutMs; }

bool GetIPAddressByName(const char* sHost, std::string& sIP) {
  sIP.clear();
  if (sHost == nullptr) return false;
  if (IsFourPartAddress(sHost)) {
    sIP = sHost;
    return true;
  }
  addrinfo hints;
  std::memset(&hints, 0, sizeof(hints));
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* pResult = nullptr;
  const int iError = getaddrinfo(sHost, nullptr, &hints, &pResult);
  if (iError != 0 || pResult == nullptr) {
    QV_LOG("Utility::GetIPAddressByName", 3, kSource, "getaddrinfo(%s) failed: Error Code = %d, Error = %s",
           sHost, iError, GetSocketErrorText(iError));
    if (pResult) freeaddrinfo(pResult);
    return false;
  }
  char sText[INET_ADDRSTRLEN] = {0};
  const sockaddr_in* pAddress = reinterpret_cast<const sockaddr_in*>(pResult->ai_addr);
  inet_ntop(AF_INET, const_cast<in_addr*>(&pAddress->sin_addr), sText, sizeof(sText));
  freeaddrinfo(pResult);
  sIP = sText;
  return !sIP.empty();
}

bool ResolveHostName(const char* sHost, std::string& sIP) {
  sIP.clear();
  if (sHost == nullptr) return false;
  if (IsFourPartAddress(sHost)) {
    sIP = sHost;
    return true;
  }
  if (GetIPAddressByName(sHost, sIP)) return true;

  std::wstring wHost = TextConv::Utf8ToWide(sHost);
  GUID guid = SVCID_HOSTNAME;
  WSAQUERYSETW query;
  std::memset(&query, 0, sizeof(query));
  query.dwSize = sizeof(query);
  query.lpszServiceInstanceName = &wHost[0];
  query.lpServiceClassId = &guid;
  query.dwNameSpace = NS_ALL;
  HANDLE hLookup = nullptr;
  if (WSALookupServiceBeginW(&query, LUP_RETURN_NAME | LUP_RETURN_ADDR, &hLookup) != 0) return false;
  alignas(8) char buffer[1024];
  DWORD iLength = sizeof(buffer);
  WSAQUERYSETW* pResult = reinterpret_cast<WSAQUERYSETW*>(buffer);
  bool bFound = false;
  if (WSALookupServiceNextW(hLookup, 0, &iLength, pResult) == 0) {
    for (DWORD i = 0; i < pResult->dwNumberOfCsAddrs && !bFound; ++i) {
      const CSADDR_INFO& info = pResult->lpcsaBuffer[i];
      wchar_t wText[64];
      DWORD iTextLength = 64;
      if (WSAAddressToStringW(info.RemoteAddr.lpSockaddr, info.RemoteAddr.iSockaddrLength, nullptr, wText,
                              &iTextLength) == 0) {
        sIP = TextConv::WideToUtf8(wText);
        bFound = !sIP.empty();
      }
    }
  }
  WSALookupServiceEnd(hLookup);
  return bFound;
}

void CloseSocket(std::uintptr_t iSocket) {
  const SOCKET s = static_cast<SOCKET>(iSocket);
  if (s == INVALID_SOCKET) return;
  shutdown(s, SD_BOTH);
  char sDiscard[128];
  recv(s, sDiscard, sizeof(sDiscard), 0);
  closesocket(s);
}

}  // namespace Utility

namespace {
// The parts of one socket download up to the sent request: the URL parsed,
// the host resolved, the socket connected with its time-outs. An invalid
// socket when a step failed (logged).
ScopedSocket ConnectAndSend(const char* sURL, const std::string& sExtraLines) {
  using namespace Utility;
  std::string sHost, sPath;
  int iPort = 80;
  if (!ParseURL(sURL, sHost, iPort, sPath)) {
    const int iError = WSAGetLastError();
    QV_LOG(kDownload, 3, kSource, "Failed to parse SERVER_ADDRESS: %s, Error Code = %d, Error = %s",
           sURL ? sURL : "", iError, GetSocketErrorText(iError));
    return ScopedSocket();
  }
  std::string sIP;
  if (!GetIPAddressByName(sHost.c_str(), sIP)) {
    const int iError = WSAGetLastError();
    QV_LOG(kDownload, 3, kSource, "Failed to get IP address for SERVER_ADDRESS: %s, Error Code = %d, Error = %s",
           sURL, iError, GetSocketErrorText(iError));
    return ScopedSocket();
  }
  sockaddr_in address;
  std::memset(&address, 0, sizeof(address));
  address.sin_family = AF_INET;
  if (inet_pton(AF_INET, sIP.c_str(), &address.sin_addr) != 1) {
    const int iError = WSAGetLastError();
    QV_LOG("Download", 3, kSource, "inet_addr(%s) failed, error code: %d, error: %s", sHost.c_str(), iError,
           GetSocketErrorText(iError));
    return ScopedSocket();
  }
  {
    addrinfo hints;
    std::memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_INET;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* pResult = nullptr;
    const int iError = getaddrinfo(sIP.c_str(), nullptr, &hints, &pResult);
    if (iError != 0 || pResult == nullptr) {
      QV_LOG(kDownload, 3, kSource, "gethostbyname(%s) failed, error code: %d, error: %s", sHost.c_str(), iError,
             GetSocketErrorText(iError));
      if (pResult) freeaddrinfo(pResult);
      return ScopedSocket();
    }
    address.sin_addr = reinterpret_cast<const sockaddr_in*>(pResult->ai_addr)->sin_addr;
    freeaddrinfo(pResult);
  }
  // The socket download always speaks plain HTTP.
  if (iPort == 443) iPort = 80;
  address.sin_port = htons(static_cast<u_short>(iPort));

  ScopedSocket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!s) {
    const int iError = WSAGetLastError();
    QV_LOG(kDownload, 3, kSource, "socket() failed, error code: %d, error: %s", iError, GetSocketErrorText(iError));
    return ScopedSocket();
  }
  linger lingerOption;
  lingerOption.l_onoff = 1;
  lingerOption.l_linger = 1;
  setsockopt(s.Get(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&lingerOption), sizeof(lingerOption));
  const DWORD iTimeout = static_cast<DWORD>(GetSocketTimeoutMs());
  setsockopt(s.Get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&iTimeout), sizeof(iTimeout));
  setsockopt(s.Get(), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&iTimeout), sizeof(iTimeout));
  if (!ConnectWithTimeout(s.Get(), address, static_cast<int>(iTimeout))) {
    const int iError = WSAGetLastError();
    QV_LOG(kDownload, 3, kSource, "connect() failed, host: %s, error code: %d, error: %s", sHost.c_str(), iError,
           GetSocketErrorText(iError));
    CloseSocket(s.Release());
    return ScopedSocket();
  }
  const std::string sRequest = BuildDownloadRequest(sHost, iPort, sPath, sExtraLines);
  const int iSent = send(s.Get(), sRequest.data(), static_cast<int>(sRequest.size()), 0);
  if (iSent < static_cast<int>(sRequest.size())) {
    const int iError = WSAGetLastError();
    QV_LOG(kDownload, 3, kSource, "send() failed, host: %s, error code: %d, error: %s", sHost.c_str(), iError,
           GetSocketErrorText(iError));
    CloseSocket(s.Release());
    return ScopedSocket();
  }
  return s;
}

// Runs fnRead over the connection's receives; a receive error is logged with
// its code, and the socket is shut down and closed after it.
template <typename Read>
Utility::DownloadStatus ReadReply(ScopedSocket& s, Read&& fnRead) {
  int iReceiveError = 0;
  const SOCKET h = s.Get();
  Utility::ReceiveFunction fnReceive = [h, &iReceiveError](char* pBuffer, int iMax) {
    const int iGot = recv(h, pBuffer, iMax, 0);
    if (iGot < 0) iReceiveError = WSAGetLastError();
    return iGot;
  };
  const Utility::DownloadStatus eStatus = fnRead(fnReceive);
  if (eStatus == Utility::DownloadStatus::kReceiveFailed)
    QV_LOG(kDownload, 3, kSource, "recv() iReturn == -1, error code: %d, error: %s", iReceiveError,
           GetSocketErrorText(iReceiveError));
  Utility::CloseSocket(s.Release());
  return eStatus;
}
}  // namespace

namespace Utility {

bool URLDownload(const char* sURL, int iExpectedSize, int iMaxSize, bool bUseMinReadBuffer,
                 std::unique_ptr<char[]>& oData, int* pSize, std::atomic<int>* pReceived) {
  oData.reset();
  *pSize = 0;
  ScopedSocket s = ConnectAndSend(sURL, std::string());
  if (!s) return false;
  const DownloadStatus eStatus = ReadReply(s, [&](const ReceiveFunction& fnReceive) {
    return ReadDownloadReply(fnReceive, iExpectedSize, iMaxSize, bUseMinReadBuffer, oData, pSize, pReceived);
  });
  if (eStatus != DownloadStatus::kOk) {
    // A partial body is no result: nothing is handed to the caller.
    oData.reset();
    *pSize = 0;
    return false;
  }
  return true;
}

bool URLDownloadTo(const char* sURL, int iExpectedSize, long long iFrom, const std::string& sValidator,
                   RangeResume::ReplySink& sink, int iReadSize, std::atomic<int>* pReceived) {
  const std::string sLines = RangeResume::RangeLines(iFrom, sValidator);
  ScopedSocket s = ConnectAndSend(sURL, sLines);
  if (!s) return false;
  const long long iAskedFrom = sLines.empty() ? 0 : iFrom;
  return ReadReply(s, [&](const ReceiveFunction& fnReceive) {
           return StreamDownloadReply(fnReceive, iExpectedSize, iAskedFrom, sink, iReadSize, pReceived);
         }) == DownloadStatus::kOk;
}

}  // namespace Utility

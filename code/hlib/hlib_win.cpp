// The page request: the first layer (SendRequest, the learned and detected
// ways through the network, hlib_proxy_win.cpp), then a plain WinInet
// request, then the raw-socket download, each given up after its time-out.
#include <cstring>
#include <memory>
#include <string>

#include "code/hlib/hlib_internal_win.h"
#include "code/hlib/requesttext.h"
#include "code/utility/net/socketdownload.h"
#include "code/utility/protect/queryprotection.h"
#include "code/utility/system/myconfigure.h"
#include "code/utility/system/userdirs.h"

using namespace HLibInternal;

bool HLib::PlainRequest(const char* sURL, const char* sIP, int iPort) {
  ScopedInternet hInternet(InternetOpenA("Internet Explorer", INTERNET_OPEN_TYPE_PROXY, nullptr, nullptr, 0));
  if (!hInternet) hInternet.Reset(InternetOpenA("Internet Explorer", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  // A silent server must not hold this layer for ever either.
  if (hInternet) SetTimeouts(H(hInternet.Get()), false);
  ScopedInternet hConnect(hInternet ? InternetConnectA(H(hInternet.Get()), sIP, static_cast<INTERNET_PORT>(iPort),
                                                       nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 1)
                                    : nullptr);
  ScopedInternet hRequest(
      hConnect ? HttpOpenRequestA(H(hConnect.Get()), "GET", sURL, nullptr, nullptr, nullptr, 0, 1) : nullptr);
  // Without a request handle the send fails too, and its error is logged.
  const std::string sHeaders = std::string(kContentType) + (m_pSink ? "\r\n" + RangeLinesForSink() : std::string());
  if (!HttpSendRequestA(H(hRequest.Get()), sHeaders.c_str(), static_cast<DWORD>(sHeaders.size()), nullptr, 0)) {
    QV_LOG_LAST_ERROR(kGetPage, 3, kSource, "HSR() failed, ");
    return false;
  }
  DWORD dwCode = 0;
  DWORD iLength = sizeof(dwCode);
  if (!HttpQueryInfoA(H(hRequest.Get()), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &dwCode, &iLength,
                      nullptr) ||
      dwCode == 0) {
    // The status itself does not matter here, but a reply there must be.
    QV_LOG(kGetPage, 3, kSource, "no reply from %s:%d", sIP, iPort);
    return false;
  }
  if (!ReadReply(hRequest.Get(), kGetPage, "HR::GetPage", "IRE() failed, ")) return false;
  if (!HasKeyword()) {
    QV_LOG_LAST_ERROR(kGetPage, 3, kSource, "No keyword, ");
    return false;
  }
  return true;
}

bool HLib::SocketRequest(const char* sURL, const char* sIP, int iPort, const std::string& sLogURL, int* piPort) {
  QV_LOG(kGetPage, 0, kSource, "HTTP fialed. Now try TCP for URL = %s", sLogURL.c_str());
  const int iSocketPort = iPort == 443 ? 80 : iPort;
  *piPort = iSocketPort;
  const std::string sSocketURL = RequestText::SocketURL(sIP, iSocketPort, sURL);
  if (m_pSink != nullptr) {
    std::string sValidator;
    const long long iFrom = m_pSink->ResumeFrom(&sValidator);
    return Utility::URLDownloadTo(sSocketURL.c_str(), m_iExpectedReceiveSize, iFrom, sValidator, *m_pSink,
                                  m_iReadSize, &m_iCurrentlyReceived);
  }
  m_pReceiveBuffer[0] = 0;
  std::unique_ptr<char[]> pData;
  int iSize = 0;
  if (m_bUseMinReadBuffer && m_iExpectedReceiveSize > 0) m_iCurrentlyReceived = 0;
  const bool bDownloaded = Utility::URLDownload(sSocketURL.c_str(), m_iExpectedReceiveSize, m_iMaxLength,
                                                m_bUseMinReadBuffer, pData, &iSize, &m_iCurrentlyReceived);
  if (!bDownloaded || iSize < 1 || pData == nullptr) return false;
  // A text reply keeps its terminator inside the buffer.
  const int iCapacity = m_iExpectedReceiveSize > 0 ? m_iMaxLength : m_iMaxLength - 1;
  const int iCopy = iSize < iCapacity ? iSize : iCapacity;
  std::memcpy(m_pReceiveBuffer, pData.get(), static_cast<std::size_t>(iCopy));
  if (!HasKeyword()) QV_LOG_LAST_ERROR(kGetPage, 3, kSource, "No keyword, ");
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
  if (m_pSink == nullptr && m_iExpectedReceiveSize > iMaxLength) {
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
  bool bBroken = false;
  try {
    CloseHandles();
    bBroken = !bResult && TransferBroken();
    if (!bResult && !bBroken) bSocket = !PlainRequest(sURL, sIP, iPort);
    bBroken = bBroken || (bSocket && TransferBroken());
    if (bBroken) bSocket = false;
    if (!bSocket && !bResult && !bBroken) bResult = true;
  } catch (...) {
    QV_LOG_LAST_ERROR(kGetPage, 3, kSource, "Crash, ");
    bSocket = !TransferBroken();
  }
  if (bSocket) bResult = SocketRequest(sURL, sIP, iPort, sLogURL, piPort);
  m_iMaxLength = 0;
  m_sKeyInReturn = nullptr;
  m_pReceiveBuffer = nullptr;
  return bResult;
}

bool HLib::GetFile(const char* sIP, int iPort, char* sURL, RangeResume::ReplySink& sink, int* piPort,
                   std::size_t iURLSize) {
  // The page request's buffer stays unused: one byte for its terminator.
  char sUnused[1] = {0};
  m_pSink = &sink;
  const bool bResult = GetPage(sIP, iPort, sURL, 1, "", sUnused, piPort, iURLSize);
  m_pSink = nullptr;
  m_aReadBuffer.clear();
  m_aReadBuffer.shrink_to_fit();
  return bResult;
}

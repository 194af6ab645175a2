// One WinInet request through one connection method, and the reading of its
// reply into the caller's buffer.
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "code/hlib/hlib_internal_win.h"
#include "code/hlib/requesttext.h"
#include "code/utility/log/sockerror.h"
#include "code/utility/net/socketdownload.h"
#include "code/utility/system/milliseconds.h"
#include "code/utility/text/asciitext.h"

using namespace HLibInternal;

namespace {
// A credentials dialog answered with "retry" over and over ends here.
const int kMaxResends = 5;
// Connections WinInet may keep open to one server.
const DWORD kConnectionsPerServer = 10;
// Bytes of a 401/407 reply's body read per call before the dialog, and the
// most calls spent on it.
const int kDiscardChunk = 50;
const int kMaxDiscardReads = 100000;

// Longest header value read for a download's reply (longer validators are
// not used anyway).
const DWORD kHeaderValueSize = 1024;

const char* OrNull(const char* s) { return (s && *s) ? s : nullptr; }

// What has arrived already, as WinInet says (0 when it cannot say).
int Available(HINTERNET hRequest) {
  DWORD iAvailable = 0;
  if (!InternetQueryDataAvailable(hRequest, &iAvailable, 0, 0)) return 0;
  return iAvailable > 0x7fffffff ? 0x7fffffff : static_cast<int>(iAvailable);
}

std::string HeaderText(HINTERNET hRequest, DWORD iQuery) {
  char sValue[kHeaderValueSize] = {0};
  DWORD iLength = sizeof(sValue) - 1;
  if (!HttpQueryInfoA(hRequest, iQuery, sValue, &iLength, nullptr)) return std::string();
  return std::string(sValue, iLength < sizeof(sValue) ? iLength : sizeof(sValue) - 1);
}

RangeResume::ReplyHead QueryHead(HINTERNET hRequest) {
  RangeResume::ReplyHead head;
  const std::string sStatus = HeaderText(hRequest, HTTP_QUERY_STATUS_CODE);
  head.iStatus = Utility::ReadDecimal(sStatus.data(), sStatus.size()).AsInt();
  head.sETag = HeaderText(hRequest, HTTP_QUERY_ETAG);
  head.sLastModified = HeaderText(hRequest, HTTP_QUERY_LAST_MODIFIED);
  head.sAcceptRanges = HeaderText(hRequest, HTTP_QUERY_ACCEPT_RANGES);
  head.sContentRange = HeaderText(hRequest, HTTP_QUERY_CONTENT_RANGE);
  const std::string sLength = HeaderText(hRequest, HTTP_QUERY_CONTENT_LENGTH);
  if (!sLength.empty() && sLength.find_first_not_of("0123456789") == std::string::npos && sLength.size() < 19)
    head.iContentLength = std::atoll(sLength.c_str());
  return head;
}
}  // namespace

void HLibInternal::SetTimeouts(HINTERNET hInternet, bool bLog) {
  DWORD lTimeout = static_cast<DWORD>(Utility::GetSocketTimeoutMs());
  struct {
    DWORD iOption;
    const char* sName;
  } options[] = {
      {INTERNET_OPTION_CONNECT_TIMEOUT, "Conn"},
      {INTERNET_OPTION_RECEIVE_TIMEOUT, "Recv"},
      {INTERNET_OPTION_SEND_TIMEOUT, "Send"},
  };
  for (const auto& o : options) {
    if (!InternetSetOptionA(hInternet, o.iOption, &lTimeout, sizeof(lTimeout)) && bLog)
      QV_LOG_LAST_ERROR(kDoRequest, 3, kSource, "%s lTimeout=%d, ", o.sName, static_cast<int>(lTimeout));
  }
  if (bLog) QV_LOG(kDoRequest, 3, kSource, "after ISO lTimeout = %d", static_cast<int>(lTimeout));
}

// ---------------------------------------------------------------------------
// Reading a reply

bool HR::HasKeyword() const {
  return RequestText::ContainsKeyword(m_pReceiveBuffer, static_cast<std::size_t>(m_iMaxLength), m_sKeyInReturn);
}

void HR::CloseHandles() {
  m_hRequest.Reset();
  m_hConnect.Reset();
  m_hInternet.Reset();
}

bool HR::ReadReply(void* hRequest, const char* sFunction, const char* sChunkFunction, const char* sFailPrefix) {
  if (m_pReceiveBuffer == nullptr || m_iMaxLength < 1) return false;
  std::memset(m_pReceiveBuffer, 0, static_cast<std::size_t>(m_iMaxLength));
  if (m_pSink != nullptr && m_iExpectedReceiveSize > 0) return ReadToSink(hRequest, sChunkFunction);
  if (m_bUseMinReadBuffer && m_iExpectedReceiveSize > 0) return ReadChunks(hRequest, sChunkFunction);
  return ReadToEnd(hRequest, sFunction, sFailPrefix);
}

bool HR::TransferBroken() {
  if (m_pSink == nullptr || !m_pSink->BrokenResumable()) return false;
  QV_LOG(kGetPage, 0, kSource, "no other way tried: %lld of %d bytes held, the next attempt goes on",
         m_pSink->Held(), m_iExpectedReceiveSize);
  return true;
}

int HR::ReadBlock(void* hRequest, char* pInto, int iRemaining, const char* sChunkFunction) {
  const DWORD iWant = static_cast<DWORD>(m_oReadPace.Next(Available(H(hRequest)), iRemaining));
  DWORD iRead = 0;
  // The performance counter: the tick count moves in steps of 10-16 ms on
  // Windows, too coarse for the 20 ms that let reads grow.
  const int iStart = Utility::GetMilliseconds();
  const BOOL bOk = InternetReadFile(H(hRequest), pInto, iWant, &iRead);
  m_oReadPace.Took(static_cast<int>(iWant), bOk ? static_cast<int>(iRead) : 0, Utility::GetMilliseconds() - iStart);
  if (!bOk || iRead == 0) {
    QV_LOG_LAST_ERROR(sChunkFunction, 3, kSource, "IRE() ");
    if (bOk)
      QV_LOG(sChunkFunction, 3, kSource, "reply ended after %d of %d bytes", m_iCurrentlyReceived.load(),
             m_iExpectedReceiveSize);
    return 0;
  }
  return static_cast<int>(iRead > iWant ? iWant : iRead);
}

bool HR::ReadToSink(void* hRequest, const char* sChunkFunction) {
  const RangeResume::ReplyHead head = QueryHead(H(hRequest));
  if (!m_pSink->Begin(head, m_iAskedFrom)) return false;
  m_iCurrentlyReceived = static_cast<int>(m_pSink->Held());
  m_oReadPace = ReadPace(m_iReadSize);
  if (m_aReadBuffer.size() != static_cast<std::size_t>(m_iReadSize))
    m_aReadBuffer.assign(static_cast<std::size_t>(m_iReadSize), 0);
  while (m_iCurrentlyReceived < m_iExpectedReceiveSize) {
    const int iRead =
        ReadBlock(hRequest, m_aReadBuffer.data(), m_iExpectedReceiveSize - m_iCurrentlyReceived, sChunkFunction);
    if (iRead == 0 || !m_pSink->Write(m_aReadBuffer.data(), static_cast<std::size_t>(iRead))) return false;
    m_iCurrentlyReceived = static_cast<int>(m_pSink->Held());
  }
  return true;
}

bool HR::ReadChunks(void* hRequest, const char* sChunkFunction) {
  // Straight into the caller's buffer at increasing offsets; a layer that
  // starts again after another one failed starts at the buffer's start.
  m_iCurrentlyReceived = 0;
  m_oReadPace = ReadPace(m_iReadSize);
  while (m_iCurrentlyReceived < m_iExpectedReceiveSize) {
    const int iRead = ReadBlock(hRequest, m_pReceiveBuffer + m_iCurrentlyReceived,
                                m_iExpectedReceiveSize - m_iCurrentlyReceived, sChunkFunction);
    if (iRead == 0) return false;
    m_iCurrentlyReceived += iRead;
  }
  return true;
}

bool HR::ReadToEnd(void* hRequest, const char* sFunction, const char* sFailPrefix) {
  // Read until the reply ends or the buffer is full; a text reply (no size
  // expected) keeps one byte for its terminator.
  const DWORD iCapacity = static_cast<DWORD>(m_iExpectedReceiveSize > 0 ? m_iMaxLength : m_iMaxLength - 1);
  DWORD iTotal = 0;
  while (iTotal < iCapacity) {
    DWORD iRead = 0;
    if (!InternetReadFile(H(hRequest), m_pReceiveBuffer + iTotal, iCapacity - iTotal, &iRead)) {
      QV_LOG_LAST_ERROR(sFunction, 3, kSource, "%s", sFailPrefix);
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
  return Guarded(kDoRequest, 3, [&] {
    return DoRequestSteps(sURL, sIP, iPort, bSecure, sVerb, cPType, sByPass, sPAddress, sPostData);
  });
}

bool HR::DoRequestSteps(const char* sURL, const char* sIP, int iPort, bool bSecure, const char* sVerb, char cPType,
                        const char* sByPass, const char* sPAddress, const char* sPostData) {
  if (std::strcmp(OrEmpty(sIP), "127.0.0.1") == 0) {
    QV_LOG(kDoRequest, 0, kSource, "Skip 127.0.0.1");
    return false;
  }
  if (TransferBroken()) return false;
  // Handles of an earlier attempt of this request are not needed any more.
  CloseHandles();
  DWORD iConnections = kConnectionsPerServer;
  InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &iConnections, sizeof(iConnections));
  InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER, &iConnections, sizeof(iConnections));
  const std::string sLogURL = RequestText::LogFormOfURL(sURL);
  QV_LOG(kDoRequest, 0, kSource,
         "Begin HR::DoRequest(), sIP = %s, iPort = %d, cPType=%c, sByPass=%s, sPAddress=%s, URL=%s", OrEmpty(sIP),
         iPort, cPType, OrEmpty(sByPass), OrEmpty(sPAddress), sLogURL.c_str());
  return OpenSession(cPType, sByPass, sPAddress) && OpenRequest(sURL, sIP, iPort, bSecure, sVerb) &&
         SendWithCredentials(sIP, iPort, sVerb, sPostData) && ReadCheckedReply();
}

bool HR::OpenSession(char cPType, const char* sByPass, const char* sPAddress) {
  const char kAgent[] = "Microsoft Internet Explorer";
  if (cPType == 'D') {
    m_hInternet.Reset(InternetOpenA(kAgent, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
  } else if (cPType == 'L') {
    m_hInternet.Reset(InternetOpenA(kAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  } else {
    m_hInternet.Reset(InternetOpenA(kAgent, INTERNET_OPEN_TYPE_PROXY, OrEmpty(sPAddress), OrNull(sByPass), 0));
  }
  if (!m_hInternet) {
    QV_LOG_LAST_ERROR(kDoRequest, 3, kSource, "I-Open failed ");
    return false;
  }
  SetTimeouts(H(m_hInternet.Get()), true);
  return true;
}

bool HR::OpenRequest(const char* sURL, const char* sIP, int iPort, bool bSecure, const char* sVerb) {
  const std::string sObject = RequestText::AddTimeParameter(sURL, static_cast<long long>(std::time(nullptr)));
  m_hConnect.Reset(InternetConnectA(H(m_hInternet.Get()), sIP, static_cast<INTERNET_PORT>(iPort), nullptr, nullptr,
                                    INTERNET_SERVICE_HTTP, 0, 0));
  if (!m_hConnect) {
    QV_LOG_LAST_ERROR(kDoRequest, 3, kSource, "failed to connect. ");
    return false;
  }
  QV_LOG(kDoRequest, 3, kSource, "after IC");
  const DWORD iFlags = bSecure ? (INTERNET_FLAG_SECURE | INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_CACHE_WRITE) : 0;
  m_hRequest.Reset(HttpOpenRequestA(H(m_hConnect.Get()), sVerb, sObject.c_str(), nullptr, nullptr, nullptr, iFlags, 0));
  if (!m_hRequest) {
    QV_LOG_LAST_ERROR(kDoRequest, 3, kSource, "failed to open-r: ");
    return false;
  }
  QV_LOG(kDoRequest, 3, kSource, "after HR");
  return true;
}

bool HR::SendOnce(const char* sIP, int iPort, const char* sVerb, const char* sPostData, unsigned long* piStatus) {
  const HINTERNET hRequest = H(m_hRequest.Get());
  // Certificate problems (self-signed, expired, wrong name) are accepted.
  DWORD iSecurity = 0;
  DWORD iLength = sizeof(iSecurity);
  InternetQueryOptionA(hRequest, INTERNET_OPTION_SECURITY_FLAGS, &iSecurity, &iLength);
  iSecurity |= SECURITY_FLAG_IGNORE_REVOCATION | SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_WRONG_USAGE |
               SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
  InternetSetOptionA(hRequest, INTERNET_OPTION_SECURITY_FLAGS, &iSecurity, sizeof(iSecurity));
  BOOL bSent;
  if (std::strcmp(OrEmpty(sVerb), "POST") == 0) {
    bSent = HttpSendRequestA(hRequest, kContentType, static_cast<DWORD>(std::strlen(kContentType)),
                             const_cast<char*>(OrEmpty(sPostData)), static_cast<DWORD>(std::strlen(OrEmpty(sPostData))));
  } else {
    const std::string sLines = RangeLinesForSink();
    bSent = HttpSendRequestA(hRequest, sLines.empty() ? nullptr : sLines.c_str(), static_cast<DWORD>(sLines.size()),
                             nullptr, 0);
  }
  if (!bSent) {
    QV_LOG_LAST_ERROR(kDoRequest, 3, kSource, "HSR failed. ");
    return false;
  }
  QV_LOG(kDoRequest, 3, kSource, "after HSR");
  DWORD dwCode = 0;
  iLength = sizeof(dwCode);
  if (!HttpQueryInfoA(hRequest, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &dwCode, &iLength, nullptr)) {
    QV_LOG_LAST_ERROR(kDoRequest, 3, kSource, "HQ() failed ");
    return false;
  }
  QV_LOG(kDoRequest, 3, kSource, "after HQI");
  if (dwCode == 0) {
    // No status line at all: the connection ended before any reply.
    QV_LOG(kDoRequest, 3, kSource, "no reply from %s:%d", OrEmpty(sIP), iPort);
    return false;
  }
  *piStatus = dwCode;
  return true;
}

bool HR::SendWithCredentials(const char* sIP, int iPort, const char* sVerb, const char* sPostData) {
  const HINTERNET hRequest = H(m_hRequest.Get());
  for (int iSend = 0;; ++iSend) {
    unsigned long dwCode = 0;
    if (!SendOnce(sIP, iPort, sVerb, sPostData, &dwCode)) return false;
    if (dwCode != HTTP_STATUS_DENIED && dwCode != HTTP_STATUS_PROXY_AUTH_REQ) return true;
    QV_LOG(kDoRequest, 3, kSource, "after HQI troubled dwCode = %d", static_cast<int>(dwCode));
    char sDiscard[kDiscardChunk];
    DWORD iRead = 0;
    for (int i = 0; i < kMaxDiscardReads && InternetReadFile(hRequest, sDiscard, sizeof(sDiscard), &iRead) && iRead > 0;
         ++i) {
    }
    QV_LOG(kDoRequest, 3, kSource, "after IRF");
    const DWORD iAnswer = InternetErrorDlg(GetDesktopWindow(), hRequest, ERROR_INTERNET_INCORRECT_PASSWORD,
                                           FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
                                               FLAGS_ERROR_UI_FLAGS_GENERATE_DATA,
                                           nullptr);
    if (iAnswer != ERROR_INTERNET_FORCE_RETRY || iSend + 1 >= kMaxResends) return true;
    QV_LOG_LAST_ERROR(kDoRequest, 3, kSource, "HSR resend -- ERROR_INTERNET_FORCE_RETRY failed ");
  }
}

bool HR::ReadCheckedReply() {
  QV_LOG(kDoRequest, 0, kSource, "HR::DoRequest succeeded! m_iExpectedReceiveSize = %d, m_bUseMinReadBuffer = %s",
         m_iExpectedReceiveSize, YN(m_bUseMinReadBuffer));
  if (m_sKeyInReturn == nullptr) return true;
  try {
    if (!ReadReply(m_hRequest.Get(), kDoRequest, kDoRequest, "IRE() ")) return false;
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

std::string HR::RangeLinesForSink() {
  m_iAskedFrom = 0;
  if (m_pSink == nullptr) return std::string();
  std::string sValidator;
  const long long iFrom = m_pSink->ResumeFrom(&sValidator);
  std::string sLines = RangeResume::RangeLines(iFrom, sValidator);
  if (!sLines.empty()) m_iAskedFrom = iFrom;
  return sLines;
}

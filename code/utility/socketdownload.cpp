#include "code/utility/socketdownload.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "code/utility/logsink.h"

namespace {
const char kSource[] = "code/utility/utility";
const char kFunction[] = "Utility::URLDownload";

// Leading decimal number as atoi reads it (spaces, sign, digits), without
// overflow: values beyond the int range saturate.
long long ReadDecimal(const char* s, std::size_t iMax) {
  std::size_t i = 0;
  while (i < iMax && (s[i] == ' ' || s[i] == '\t')) ++i;
  bool bNegative = false;
  if (i < iMax && (s[i] == '+' || s[i] == '-')) bNegative = s[i++] == '-';
  long long iValue = 0;
  while (i < iMax && s[i] >= '0' && s[i] <= '9') {
    if (iValue < 100000000000LL) iValue = iValue * 10 + (s[i] - '0');
    ++i;
  }
  return bNegative ? -iValue : iValue;
}

const char* FindBytes(const char* pData, std::size_t iSize, const char* sPattern) {
  const std::size_t n = std::strlen(sPattern);
  if (n == 0 || iSize < n) return nullptr;
  for (std::size_t i = 0; i + n <= iSize; ++i)
    if (std::memcmp(pData + i, sPattern, n) == 0) return pData + i;
  return nullptr;
}

char* NewBlock(std::size_t iSize) { return new (std::nothrow) char[iSize]; }
}  // namespace

namespace Utility {

bool ParseURL(const char* sURL, std::string& sHost, int& iPort, std::string& sPath) {
  sHost.clear();
  sPath.clear();
  iPort = 80;
  if (sURL == nullptr) return false;
  std::string sRest = sURL;
  const std::size_t iSlashes = sRest.find("//");
  if (iSlashes != std::string::npos) {
    if (iSlashes > kMaxSchemeLength) return false;
    std::string sScheme = sRest.substr(0, iSlashes);
    for (char& c : sScheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (sScheme == "https:") iPort = 443;
    sRest = sRest.substr(iSlashes + 2);
  }
  const std::size_t iSpace = sRest.find(' ');
  if (iSpace != std::string::npos) sRest.resize(iSpace);
  const std::size_t iPath = sRest.find('/');
  if (iPath != std::string::npos) {
    sPath = sRest.substr(iPath);
    sRest.resize(iPath);
  }
  const std::size_t iColon = sRest.find(':');
  if (iColon != std::string::npos) {
    const std::string sPort = sRest.substr(iColon + 1);
    const long long iValue = ReadDecimal(sPort.c_str(), sPort.size());
    if (iValue < 1 || iValue > 65535) return false;
    iPort = static_cast<int>(iValue);
    sRest.resize(iColon);
  }
  sHost = sRest;
  return true;
}

bool IsFourPartAddress(const char* sHost) {
  if (sHost == nullptr) return false;
  const char* pDot = std::strchr(sHost, '.');
  if (pDot == nullptr) return false;
  if (ReadDecimal(sHost, static_cast<std::size_t>(pDot - sHost)) == 0) return false;
  int iParts = 1;
  for (const char* p = sHost; *p; ++p)
    if (*p == '.') ++iParts;
  return iParts == 4;
}

std::string BuildDownloadRequest(const std::string& sHost, int iPort, const std::string& sPath) {
  std::string s = "GET ";
  s += sPath.empty() ? "/" : sPath;
  s += " HTTP/1.0\r\n";
  s += "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/vnd.ms-powerpoint, "
       "application/vnd.ms-excel, application/msword, application/x-shockwave-flash, */*\r\n";
  s += "Accept-Language: en-us\r\n";
  s += "Pragma: no-cache\r\n";
  s += "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0; .NET CLR 1.0.3705; .NET CLR 1.1.4322)\r\n";
  s += "Host: " + sHost + ":" + std::to_string(iPort) + "\r\n";
  s += "Connection: Keep-Alive\r\n\r\n";
  return s;
}

DownloadStatus ReadDownloadReply(const ReceiveFunction& fnReceive, int iExpectedSize,
                                 bool bUseMinReadBuffer, char** ppData, int* piSize,
                                 std::atomic<int>* piReceived) {
  *ppData = nullptr;
  *piSize = 0;
  std::unique_ptr<char[]> pFirst(NewBlock(kFirstReceiveSize));
  if (!pFirst) return DownloadStatus::kTooLarge;
  const int iFirst = fnReceive(pFirst.get(), kFirstReceiveSize - 1);
  if (iFirst <= 0) return DownloadStatus::kReceiveFailed;
  const char* pHeadEnd = FindBytes(pFirst.get(), static_cast<std::size_t>(iFirst), "\r\n\r\n");
  const std::size_t iBodyOffset = pHeadEnd ? static_cast<std::size_t>(pHeadEnd - pFirst.get()) + 4 : 0;
  // The length header is looked for in the head only (all of the bytes while
  // the head has not ended), never in body bytes.
  const std::size_t iHeadSize = pHeadEnd ? iBodyOffset : static_cast<std::size_t>(iFirst);

  long long iBodyLength = iExpectedSize;
  if (iExpectedSize == 0) {
    const char kLengthHeader[] = "Content-Length:";
    const char* pLength = FindBytes(pFirst.get(), iHeadSize, kLengthHeader);
    if (pLength == nullptr) {
      QV_LOG(kFunction, 0, kSource, "missing Content-Length");
      if (pHeadEnd == nullptr) {
        // No head end in sight: the whole first receive is the reply.
        pFirst[iFirst] = 0;
        *ppData = pFirst.release();
        *piSize = iFirst;
        if (piReceived) *piReceived = iFirst;
        return DownloadStatus::kOk;
      }
      // Without a length the body ends when the server closes.
      std::string sBody(pFirst.get() + iBodyOffset, static_cast<std::size_t>(iFirst) - iBodyOffset);
      if (piReceived) *piReceived = static_cast<int>(sBody.size());
      const int iStep = bUseMinReadBuffer ? kSmallReceiveSize : kLargeReceiveSize;
      for (;;) {
        const int iGot = fnReceive(pFirst.get(), iStep - 1);
        if (iGot < 0) return DownloadStatus::kReceiveFailed;
        if (iGot == 0) break;
        if (sBody.size() + static_cast<std::size_t>(iGot) > static_cast<std::size_t>(kMaxUnannouncedBody)) {
          QV_LOG(kFunction, 3, kSource, "reply without Content-Length exceeds %d bytes", kMaxUnannouncedBody);
          return DownloadStatus::kTooLarge;
        }
        sBody.append(pFirst.get(), static_cast<std::size_t>(iGot));
        if (piReceived) *piReceived = static_cast<int>(sBody.size());
      }
      char* pData = NewBlock(sBody.size() + 1);
      if (pData == nullptr) return DownloadStatus::kTooLarge;
      std::memcpy(pData, sBody.data(), sBody.size());
      pData[sBody.size()] = 0;
      *ppData = pData;
      *piSize = static_cast<int>(sBody.size());
      return DownloadStatus::kOk;
    }
    const char* pValue = pLength + std::strlen(kLengthHeader);
    std::size_t iValueLength = 0;
    const char* pEnd = pFirst.get() + iFirst;
    while (iValueLength < 31 && pValue + iValueLength < pEnd && pValue[iValueLength] != '\r' &&
           pValue[iValueLength] != '\n')
      ++iValueLength;
    iBodyLength = ReadDecimal(pValue, iValueLength);
  }

  if (iBodyLength < 1) {
    *piSize = 0;
    QV_LOG(kFunction, 0, kSource, "no new download");
    return DownloadStatus::kOk;
  }
  if (iBodyLength > 0x7FFFFFFE) {
    QV_LOG(kFunction, 3, kSource, "body of %lld bytes is too large", iBodyLength);
    return DownloadStatus::kTooLarge;
  }
  if (pHeadEnd == nullptr) {
    QV_LOG(kFunction, 3, kSource, "invalid header");
    return DownloadStatus::kInvalidHeader;
  }
  const int iLength = static_cast<int>(iBodyLength);
  char* pData = NewBlock(static_cast<std::size_t>(iLength) + 1);
  if (pData == nullptr) {
    QV_LOG(kFunction, 3, kSource, "cannot allocate %d bytes", iLength + 1);
    return DownloadStatus::kTooLarge;
  }
  *ppData = pData;
  *piSize = iLength;
  pData[iLength] = 0;
  // Body bytes beyond the announced length in the first receive are dropped.
  int iReceived = static_cast<int>(static_cast<std::size_t>(iFirst) - iBodyOffset);
  if (iReceived > iLength) iReceived = iLength;
  std::memcpy(pData, pFirst.get() + iBodyOffset, static_cast<std::size_t>(iReceived));
  pFirst.reset();
  if (piReceived) *piReceived = iReceived;

  const int iStep = (bUseMinReadBuffer ? kSmallReceiveSize : kLargeReceiveSize) - 1;
  while (iReceived < iLength) {
    const int iAsk = iLength - iReceived < iStep ? iLength - iReceived : iStep;
    const int iGot = fnReceive(pData + iReceived, iAsk);
    if (iGot < 0) return DownloadStatus::kReceiveFailed;
    if (iGot == 0) {
      QV_LOG(kFunction, 3, kSource, "connection closed after %d of %d body bytes", iReceived, iLength);
      return DownloadStatus::kClosedEarly;
    }
    iReceived += iGot > iAsk ? iAsk : iGot;
    if (piReceived) *piReceived = iReceived;
  }
  return DownloadStatus::kOk;
}

}  // namespace Utility

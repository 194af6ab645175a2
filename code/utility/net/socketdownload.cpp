#include "code/utility/net/socketdownload.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "code/utility/log/logsink.h"

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

// Header names compare without regard to ASCII letter case.
bool SameLetters(const char* p, const char* sName, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (std::tolower(static_cast<unsigned char>(p[i])) != std::tolower(static_cast<unsigned char>(sName[i])))
      return false;
  }
  return true;
}
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

bool FindHeaderValue(const char* pHead, std::size_t iHeadSize, const char* sName, std::string* pValue) {
  const std::size_t iName = std::strlen(sName);
  std::size_t i = 0;
  while (i < iHeadSize) {
    std::size_t iEnd = i;
    while (iEnd < iHeadSize && pHead[iEnd] != '\n') ++iEnd;
    std::size_t iLineEnd = iEnd;
    if (iLineEnd > i && pHead[iLineEnd - 1] == '\r') --iLineEnd;
    if (iLineEnd - i > iName && pHead[i + iName] == ':' && SameLetters(pHead + i, sName, iName)) {
      std::size_t iValue = i + iName + 1;
      while (iValue < iLineEnd && (pHead[iValue] == ' ' || pHead[iValue] == '\t')) ++iValue;
      if (pValue) pValue->assign(pHead + iValue, iLineEnd - iValue);
      return true;
    }
    i = iEnd + 1;
  }
  return false;
}

DownloadStatus ReadDownloadReply(const ReceiveFunction& fnReceive, int iExpectedSize, int iMaxSize,
                                 bool bUseMinReadBuffer, char** ppData, int* piSize,
                                 std::atomic<int>* piReceived) {
  *ppData = nullptr;
  *piSize = 0;
  if (iMaxSize < 1 || iExpectedSize > iMaxSize) {
    QV_LOG(kFunction, 3, kSource, "expected size of %d bytes does not fit the %d bytes the caller takes",
           iExpectedSize, iMaxSize);
    return DownloadStatus::kTooLarge;
  }
  const std::size_t iMax = static_cast<std::size_t>(iMaxSize);
  std::unique_ptr<char[]> pFirst(NewBlock(kFirstReceiveSize));
  if (!pFirst) return DownloadStatus::kTooLarge;

  // The head may come in pieces; it has to end within kMaxHeaderSize bytes.
  std::size_t iHave = 0;
  const char* pHeadEnd = nullptr;
  bool bClosed = false;
  for (;;) {
    const int iAsk = kFirstReceiveSize - 1 - static_cast<int>(iHave);
    const int iGot = fnReceive(pFirst.get() + iHave, iAsk);
    if (iGot < 0) return DownloadStatus::kReceiveFailed;
    if (iGot == 0) {
      bClosed = true;
      break;
    }
    // The empty line may straddle two receives.
    const std::size_t iFrom = iHave >= 3 ? iHave - 3 : 0;
    iHave += static_cast<std::size_t>(iGot < iAsk ? iGot : iAsk);
    const std::size_t iSearch = iHave < static_cast<std::size_t>(kMaxHeaderSize) ? iHave : kMaxHeaderSize;
    if (iSearch > iFrom) pHeadEnd = FindBytes(pFirst.get() + iFrom, iSearch - iFrom, "\r\n\r\n");
    if (pHeadEnd != nullptr || iHave >= static_cast<std::size_t>(kMaxHeaderSize)) break;
  }
  if (iHave == 0) return DownloadStatus::kReceiveFailed;
  if (pHeadEnd == nullptr && !bClosed) {
    QV_LOG(kFunction, 3, kSource, "reply head longer than %d bytes", kMaxHeaderSize);
    return DownloadStatus::kInvalidHeader;
  }
  const std::size_t iBodyOffset = pHeadEnd ? static_cast<std::size_t>(pHeadEnd - pFirst.get()) + 4 : 0;
  // The length header is looked for in the head only (all of the bytes while
  // the head has not ended), never in body bytes.
  const std::size_t iHeadSize = pHeadEnd ? iBodyOffset : iHave;
  const int iStep = (bUseMinReadBuffer ? kSmallReceiveSize : kLargeReceiveSize) - 1;

  long long iBodyLength = iExpectedSize;
  if (iExpectedSize == 0) {
    std::string sValue;
    if (!FindHeaderValue(pFirst.get(), iHeadSize, "Content-Length", &sValue)) {
      QV_LOG(kFunction, 0, kSource, "missing Content-Length");
      // Without a length the body ends when the server closes; a reply whose
      // head never ended is taken whole.
      const std::size_t iLimit = iMax < static_cast<std::size_t>(kMaxUnannouncedBody) ? iMax : kMaxUnannouncedBody;
      std::vector<char> aBody;
      bool bCut = false;
      auto fnAppend = [&](const char* p, std::size_t n) {
        if (aBody.size() + n > iLimit) {
          n = iLimit - aBody.size();
          bCut = true;
        }
        if (aBody.size() + n > aBody.capacity()) {
          std::size_t iCapacity = aBody.capacity() * 2;
          if (iCapacity < aBody.size() + n) iCapacity = aBody.size() + n;
          if (iCapacity > iLimit) iCapacity = iLimit;
          aBody.reserve(iCapacity);
        }
        aBody.insert(aBody.end(), p, p + n);
        if (piReceived) *piReceived = static_cast<int>(aBody.size());
      };
      fnAppend(pFirst.get() + iBodyOffset, iHave - iBodyOffset);
      while (pHeadEnd != nullptr && !bClosed && !bCut) {
        const int iGot = fnReceive(pFirst.get(), iStep);
        if (iGot < 0) return DownloadStatus::kReceiveFailed;
        if (iGot == 0) break;
        fnAppend(pFirst.get(), static_cast<std::size_t>(iGot < iStep ? iGot : iStep));
      }
      if (bCut && iLimit < iMax) {
        QV_LOG(kFunction, 3, kSource, "reply without Content-Length exceeds %d bytes", kMaxUnannouncedBody);
        return DownloadStatus::kTooLarge;
      }
      if (bCut) QV_LOG(kFunction, 0, kSource, "reply without Content-Length is cut to %d bytes", iMaxSize);
      char* pData = NewBlock(aBody.size() + 1);
      if (pData == nullptr) return DownloadStatus::kTooLarge;
      if (!aBody.empty()) std::memcpy(pData, aBody.data(), aBody.size());
      pData[aBody.size()] = 0;
      *ppData = pData;
      *piSize = static_cast<int>(aBody.size());
      return DownloadStatus::kOk;
    }
    iBodyLength = ReadDecimal(sValue.c_str(), sValue.size() < 31 ? sValue.size() : 31);
  }

  if (iBodyLength < 1) {
    *piSize = 0;
    QV_LOG(kFunction, 0, kSource, "no new download");
    return DownloadStatus::kOk;
  }
  if (pHeadEnd == nullptr) {
    QV_LOG(kFunction, 3, kSource, "invalid header");
    return DownloadStatus::kInvalidHeader;
  }
  // What the server announces is never what gets allocated: the caller's
  // maximum is.
  if (iBodyLength > iMaxSize) {
    QV_LOG(kFunction, 0, kSource, "reply of %lld bytes is cut to %d bytes", iBodyLength, iMaxSize);
    iBodyLength = iMaxSize;
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
  // Body bytes beyond the length in the first receives are dropped.
  std::size_t iFirstBody = iHave - iBodyOffset;
  if (iFirstBody > static_cast<std::size_t>(iLength)) iFirstBody = static_cast<std::size_t>(iLength);
  std::memcpy(pData, pFirst.get() + iBodyOffset, iFirstBody);
  int iReceived = static_cast<int>(iFirstBody);
  pFirst.reset();
  if (piReceived) *piReceived = iReceived;

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

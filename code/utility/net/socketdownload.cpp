#include "code/utility/net/socketdownload.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "code/utility/log/logsink.h"
#include "code/utility/text/asciitext.h"
#include "code/utility/text/encoding.h"

namespace {
const char kSource[] = "code/utility/utility";
const char kFunction[] = "Utility::URLDownload";


const char* FindBytes(const char* pData, std::size_t iSize, const char* sPattern) {
  const long long i = Utility::FindFirst(sPattern, std::strlen(sPattern), pData, iSize);
  return i < 0 ? nullptr : pData + i;
}

char* NewBlock(std::size_t iSize) { return new (std::nothrow) char[iSize]; }

// Header names compare without regard to ASCII letter case.
bool SameLetters(const char* p, const char* sName, std::size_t n) {
  return Utility::AsciiEqualNoCase(p, n, sName, n);
}

// The first receives of a reply: the head, and whatever body bytes came
// with it.
struct FirstBlock {
  std::unique_ptr<char[]> pData;
  std::size_t iHave = 0;
  const char* pHeadEnd = nullptr;  // the empty line, or null when the head never ended
  bool bClosed = false;
  std::size_t iBodyOffset = 0;
  // The length header is looked for in the head only (all of the bytes
  // while the head has not ended), never in body bytes.
  std::size_t iHeadSize = 0;
};

Utility::DownloadStatus ReadHead(const Utility::ReceiveFunction& fnReceive, FirstBlock& first) {
  using Utility::DownloadStatus;
  first.pData.reset(NewBlock(Utility::kFirstReceiveSize));
  if (!first.pData) return DownloadStatus::kTooLarge;
  char* p = first.pData.get();
  // The head may come in pieces; it has to end within kMaxHeaderSize bytes.
  for (;;) {
    const int iAsk = Utility::kFirstReceiveSize - 1 - static_cast<int>(first.iHave);
    const int iGot = fnReceive(p + first.iHave, iAsk);
    if (iGot < 0) return DownloadStatus::kReceiveFailed;
    if (iGot == 0) {
      first.bClosed = true;
      break;
    }
    // The empty line may straddle two receives.
    const std::size_t iFrom = first.iHave >= 3 ? first.iHave - 3 : 0;
    first.iHave += static_cast<std::size_t>(iGot < iAsk ? iGot : iAsk);
    const std::size_t iSearch =
        first.iHave < static_cast<std::size_t>(Utility::kMaxHeaderSize) ? first.iHave : Utility::kMaxHeaderSize;
    if (iSearch > iFrom) first.pHeadEnd = FindBytes(p + iFrom, iSearch - iFrom, "\r\n\r\n");
    if (first.pHeadEnd != nullptr || first.iHave >= static_cast<std::size_t>(Utility::kMaxHeaderSize)) break;
  }
  if (first.iHave == 0) return DownloadStatus::kReceiveFailed;
  if (first.pHeadEnd == nullptr && !first.bClosed) {
    QV_LOG(kFunction, 3, kSource, "reply head longer than %d bytes", Utility::kMaxHeaderSize);
    return DownloadStatus::kInvalidHeader;
  }
  first.iBodyOffset = first.pHeadEnd ? static_cast<std::size_t>(first.pHeadEnd - p) + 4 : 0;
  first.iHeadSize = first.pHeadEnd ? first.iBodyOffset : first.iHave;
  return DownloadStatus::kOk;
}

// Where one reply's body goes, as ReadDownloadReply was asked: the receives,
// the most body bytes the caller takes, the size of each later receive, and
// the caller's block, length and count of bytes received so far.
struct BodyReading {
  const Utility::ReceiveFunction& fnReceive;
  int iMaxSize;
  int iStep;
  std::unique_ptr<char[]>& oData;
  int* piSize;
  std::atomic<int>* piReceived;
};

// The body of a reply without a length: it ends when the server closes (a
// reply whose head never ended is taken whole), at most iMaxSize bytes and
// never more than kMaxUnannouncedBody. The whole body is handed out once
// read; nothing is handed out after a failure.
Utility::DownloadStatus ReadUntilClosed(const BodyReading& reading, FirstBlock& first) {
  using Utility::DownloadStatus;
  const std::size_t iMax = static_cast<std::size_t>(reading.iMaxSize);
  const std::size_t iLimit =
      iMax < static_cast<std::size_t>(Utility::kMaxUnannouncedBody) ? iMax : Utility::kMaxUnannouncedBody;
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
    if (reading.piReceived) *reading.piReceived = static_cast<int>(aBody.size());
  };
  char* pBlock = first.pData.get();
  fnAppend(pBlock + first.iBodyOffset, first.iHave - first.iBodyOffset);
  while (first.pHeadEnd != nullptr && !first.bClosed && !bCut) {
    const int iGot = reading.fnReceive(pBlock, reading.iStep);
    if (iGot < 0) return DownloadStatus::kReceiveFailed;
    if (iGot == 0) break;
    fnAppend(pBlock, static_cast<std::size_t>(iGot < reading.iStep ? iGot : reading.iStep));
  }
  if (bCut && iLimit < iMax) {
    QV_LOG(kFunction, 3, kSource, "reply without Content-Length exceeds %d bytes", Utility::kMaxUnannouncedBody);
    return DownloadStatus::kTooLarge;
  }
  if (bCut) QV_LOG(kFunction, 0, kSource, "reply without Content-Length is cut to %d bytes", reading.iMaxSize);
  reading.oData.reset(NewBlock(aBody.size() + 1));
  if (reading.oData == nullptr) return DownloadStatus::kTooLarge;
  if (!aBody.empty()) std::memcpy(reading.oData.get(), aBody.data(), aBody.size());
  reading.oData[aBody.size()] = 0;
  *reading.piSize = static_cast<int>(aBody.size());
  return DownloadStatus::kOk;
}

// The body of a reply of iBodyLength bytes (cut to iMaxSize): the block is
// handed out before the rest is received, so it may hold a part of the body
// after a failure. The first block is released once its body bytes are
// copied.
Utility::DownloadStatus ReadAnnouncedBody(const BodyReading& reading, FirstBlock& first, long long iBodyLength) {
  using Utility::DownloadStatus;
  if (iBodyLength < 1) {
    *reading.piSize = 0;
    QV_LOG(kFunction, 0, kSource, "no new download");
    return DownloadStatus::kOk;
  }
  if (first.pHeadEnd == nullptr) {
    QV_LOG(kFunction, 3, kSource, "invalid header");
    return DownloadStatus::kInvalidHeader;
  }
  // What the server announces is never what gets allocated: the caller's
  // maximum is.
  if (iBodyLength > reading.iMaxSize) {
    QV_LOG(kFunction, 0, kSource, "reply of %lld bytes is cut to %d bytes", iBodyLength, reading.iMaxSize);
    iBodyLength = reading.iMaxSize;
  }
  const int iLength = static_cast<int>(iBodyLength);
  reading.oData.reset(NewBlock(static_cast<std::size_t>(iLength) + 1));
  if (reading.oData == nullptr) {
    QV_LOG(kFunction, 3, kSource, "cannot allocate %d bytes", iLength + 1);
    return DownloadStatus::kTooLarge;
  }
  char* pData = reading.oData.get();
  *reading.piSize = iLength;
  pData[iLength] = 0;
  // Body bytes beyond the length in the first receives are dropped.
  std::size_t iFirstBody = first.iHave - first.iBodyOffset;
  if (iFirstBody > static_cast<std::size_t>(iLength)) iFirstBody = static_cast<std::size_t>(iLength);
  std::memcpy(pData, first.pData.get() + first.iBodyOffset, iFirstBody);
  int iReceived = static_cast<int>(iFirstBody);
  first.pData.reset();
  if (reading.piReceived) *reading.piReceived = iReceived;

  while (iReceived < iLength) {
    const int iAsk = iLength - iReceived < reading.iStep ? iLength - iReceived : reading.iStep;
    const int iGot = reading.fnReceive(pData + iReceived, iAsk);
    if (iGot < 0) return DownloadStatus::kReceiveFailed;
    if (iGot == 0) {
      QV_LOG(kFunction, 3, kSource, "connection closed after %d of %d body bytes", iReceived, iLength);
      return DownloadStatus::kClosedEarly;
    }
    iReceived += iGot > iAsk ? iAsk : iGot;
    if (reading.piReceived) *reading.piReceived = iReceived;
  }
  return DownloadStatus::kOk;
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
    const std::string sScheme = Utility::ToLowerASCII(sRest.substr(0, iSlashes));
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
    const long long iValue = Utility::ReadDecimal(sPort.c_str(), sPort.size()).iValue;
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
  if (Utility::ReadDecimal(sHost, static_cast<std::size_t>(pDot - sHost)).iValue == 0) return false;
  int iParts = 1;
  for (const char* p = sHost; *p; ++p)
    if (*p == '.') ++iParts;
  return iParts == 4;
}

std::string BuildDownloadRequest(const std::string& sHost, int iPort, const std::string& sPath,
                                 const std::string& sExtraLines) {
  std::string s = "GET ";
  s += sPath.empty() ? "/" : sPath;
  s += " HTTP/1.0\r\n";
  s += "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/vnd.ms-powerpoint, "
       "application/vnd.ms-excel, application/msword, application/x-shockwave-flash, */*\r\n";
  s += "Accept-Language: en-us\r\n";
  s += "Pragma: no-cache\r\n";
  s += "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0; .NET CLR 1.0.3705; .NET CLR 1.1.4322)\r\n";
  s += "Host: " + sHost + ":" + std::to_string(iPort) + "\r\n";
  s += sExtraLines;
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
                                 bool bUseMinReadBuffer, std::unique_ptr<char[]>& oData, int* piSize,
                                 std::atomic<int>* piReceived) {
  oData.reset();
  *piSize = 0;
  if (iMaxSize < 1 || iExpectedSize > iMaxSize) {
    QV_LOG(kFunction, 3, kSource, "expected size of %d bytes does not fit the %d bytes the caller takes",
           iExpectedSize, iMaxSize);
    return DownloadStatus::kTooLarge;
  }
  FirstBlock first;
  const DownloadStatus eHead = ReadHead(fnReceive, first);
  if (eHead != DownloadStatus::kOk) return eHead;
  const BodyReading reading{fnReceive, iMaxSize, (bUseMinReadBuffer ? kSmallReceiveSize : kLargeReceiveSize) - 1,
                            oData, piSize, piReceived};

  long long iBodyLength = iExpectedSize;
  if (iExpectedSize == 0) {
    std::string sValue;
    if (!FindHeaderValue(first.pData.get(), first.iHeadSize, "Content-Length", &sValue)) {
      QV_LOG(kFunction, 0, kSource, "missing Content-Length");
      return ReadUntilClosed(reading, first);
    }
    iBodyLength = Utility::ReadDecimal(sValue.c_str(), sValue.size() < 31 ? sValue.size() : 31).iValue;
  }
  return ReadAnnouncedBody(reading, first, iBodyLength);
}

RangeResume::ReplyHead ParseReplyHead(const char* pHead, std::size_t iHeadSize) {
  RangeResume::ReplyHead head;
  // "HTTP/1.x NNN ...": the number after the first blank.
  std::size_t i = 0;
  while (i < iHeadSize && pHead[i] != ' ' && pHead[i] != '\r' && pHead[i] != '\n') ++i;
  if (i < iHeadSize && pHead[i] == ' ') {
    const long long iStatus = Utility::ReadDecimal(pHead + i + 1, iHeadSize - i - 1 < 4 ? iHeadSize - i - 1 : 4).iValue;
    head.iStatus = iStatus > 0 && iStatus < 1000 ? static_cast<int>(iStatus) : 0;
  }
  FindHeaderValue(pHead, iHeadSize, "ETag", &head.sETag);
  FindHeaderValue(pHead, iHeadSize, "Last-Modified", &head.sLastModified);
  FindHeaderValue(pHead, iHeadSize, "Accept-Ranges", &head.sAcceptRanges);
  FindHeaderValue(pHead, iHeadSize, "Content-Range", &head.sContentRange);
  std::string sLength;
  if (FindHeaderValue(pHead, iHeadSize, "Content-Length", &sLength) && !sLength.empty() && sLength.size() < 19 &&
      sLength.find_first_not_of("0123456789") == std::string::npos)
    head.iContentLength = Utility::ReadDecimal(sLength.c_str(), sLength.size()).iValue;
  return head;
}

DownloadStatus StreamDownloadReply(const ReceiveFunction& fnReceive, int iExpectedSize, long long iAskedFrom,
                                   RangeResume::ReplySink& sink, int iReadSize, std::atomic<int>* piReceived) {
  if (iExpectedSize < 1 || iReadSize < 1) return DownloadStatus::kTooLarge;
  FirstBlock first;
  const DownloadStatus eHead = ReadHead(fnReceive, first);
  if (eHead != DownloadStatus::kOk) return eHead;
  if (first.pHeadEnd == nullptr) {
    QV_LOG(kFunction, 3, kSource, "invalid header");
    return DownloadStatus::kInvalidHeader;
  }
  if (!sink.Begin(ParseReplyHead(first.pData.get(), first.iHeadSize), iAskedFrom)) return DownloadStatus::kRefused;
  auto fnPublish = [&]() {
    if (piReceived) *piReceived = static_cast<int>(sink.Held());
  };
  fnPublish();
  // Body bytes that came with the head, never more than the package holds.
  std::size_t iFirstBody = first.iHave - first.iBodyOffset;
  const long long iMissing = iExpectedSize - sink.Held();
  if (static_cast<long long>(iFirstBody) > iMissing) iFirstBody = static_cast<std::size_t>(iMissing);
  if (iFirstBody > 0 && !sink.Write(first.pData.get() + first.iBodyOffset, iFirstBody)) return DownloadStatus::kRefused;
  fnPublish();
  first.pData.reset();

  std::unique_ptr<char[]> pBlock(NewBlock(static_cast<std::size_t>(iReadSize)));
  if (!pBlock) return DownloadStatus::kTooLarge;
  while (sink.Held() < iExpectedSize) {
    const long long iLeft = iExpectedSize - sink.Held();
    const int iAsk = iLeft < iReadSize ? static_cast<int>(iLeft) : iReadSize;
    const int iGot = fnReceive(pBlock.get(), iAsk);
    if (iGot < 0) return DownloadStatus::kReceiveFailed;
    if (iGot == 0) {
      QV_LOG(kFunction, 3, kSource, "connection closed after %lld of %d body bytes", sink.Held(), iExpectedSize);
      return DownloadStatus::kClosedEarly;
    }
    if (!sink.Write(pBlock.get(), static_cast<std::size_t>(iGot > iAsk ? iAsk : iGot))) return DownloadStatus::kRefused;
    fnPublish();
  }
  return DownloadStatus::kOk;
}

}  // namespace Utility

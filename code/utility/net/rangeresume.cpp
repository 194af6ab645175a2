#include "code/utility/net/rangeresume.h"

#include "code/utility/text/asciitext.h"

#include <cstdio>

namespace RangeResume {
namespace {
// Digits only, at most 18 of them (no sign, no blanks, no overflow).
bool ReadNumber(const std::string& s, std::size_t* pPos, long long* pValue) {
  const std::size_t i = *pPos;
  if (i >= s.size() || s[i] < '0' || s[i] > '9') return false;
  const Utility::Decimal d = Utility::ReadDecimal(s.data() + i, s.size() - i);
  if (d.bOverflow) return false;
  *pPos = i + d.iEnd;
  *pValue = d.iValue;
  return true;
}

bool SafeForHeader(const std::string& s) {
  if (s.empty() || s.size() > kMaxValidator) return false;
  for (char c : s) {
    if (c == '\r' || c == '\n' || c == '\0') return false;
  }
  return true;
}

void Say(std::string* pReason, const std::string& sText) {
  if (pReason) *pReason = sText;
}
}  // namespace

std::string ChooseValidator(const ReplyHead& head) {
  if (!head.sETag.empty()) {
    const bool bWeak = head.sETag.size() >= 2 && (head.sETag[0] == 'W' || head.sETag[0] == 'w') && head.sETag[1] == '/';
    if (!bWeak && SafeForHeader(head.sETag)) return head.sETag;
    // A weak or unusable ETag would make any If-Range fail: the date may do.
  }
  return SafeForHeader(head.sLastModified) ? head.sLastModified : std::string();
}

bool ParseContentRange(const std::string& sValue, long long* pFirst, long long* pLast, long long* pTotal) {
  const std::string kUnit = "bytes ";
  if (Utility::ToLowerASCII(sValue.substr(0, kUnit.size())) != kUnit) return false;
  std::size_t i = kUnit.size();
  while (i < sValue.size() && sValue[i] == ' ') ++i;
  long long iFirst = 0, iLast = 0, iTotal = -1;
  if (!ReadNumber(sValue, &i, &iFirst) || i >= sValue.size() || sValue[i++] != '-') return false;
  if (!ReadNumber(sValue, &i, &iLast) || i >= sValue.size() || sValue[i++] != '/') return false;
  if (i < sValue.size() && sValue[i] == '*') {
    ++i;
  } else if (!ReadNumber(sValue, &i, &iTotal)) {
    return false;
  }
  if (i != sValue.size() || iLast < iFirst || (iTotal >= 0 && iLast >= iTotal)) return false;
  *pFirst = iFirst;
  *pLast = iLast;
  *pTotal = iTotal;
  return true;
}

std::string RangeLines(long long iFrom, const std::string& sValidator) {
  if (iFrom <= 0 || !SafeForHeader(sValidator)) return std::string();
  return "Range: bytes=" + std::to_string(iFrom) + "-\r\nIf-Range: " + sValidator + "\r\n";
}

Verdict Judge(const ReplyHead& head, long long iAskedFrom, long long iSize, std::string* pReason) {
  if (head.iStatus == 200) return Verdict::kFromStart;
  if (head.iStatus != 206) {
    Say(pReason, "status " + std::to_string(head.iStatus));
    return Verdict::kRefuse;
  }
  if (iAskedFrom <= 0) {
    Say(pReason, "206 to a request without a range");
    return Verdict::kRefuse;
  }
  long long iFirst = 0, iLast = 0, iTotal = 0;
  if (!ParseContentRange(head.sContentRange, &iFirst, &iLast, &iTotal)) {
    Say(pReason, "Content-Range \"" + head.sContentRange + "\" unreadable");
    return Verdict::kRefuse;
  }
  // Only the rest asked for, of a package of the size the download expects,
  // can follow the bytes already held.
  if (iFirst != iAskedFrom || iLast != iSize - 1 || (iTotal >= 0 && iTotal != iSize)) {
    Say(pReason, "Content-Range \"" + head.sContentRange + "\" is not bytes " + std::to_string(iAskedFrom) + "-" +
                     std::to_string(iSize - 1) + "/" + std::to_string(iSize));
    return Verdict::kRefuse;
  }
  if (head.iContentLength >= 0 && head.iContentLength != iLast - iFirst + 1) {
    Say(pReason, "Content-Length " + std::to_string(head.iContentLength) + " does not match the range");
    return Verdict::kRefuse;
  }
  return Verdict::kAppend;
}

bool AllowsResume(const ReplyHead& head) {
  if (ChooseValidator(head).empty()) return false;
  if (head.iStatus == 206) return true;
  return head.iStatus == 200 && Utility::ToLowerASCII(head.sAcceptRanges) == "bytes";
}

}  // namespace RangeResume

#pragma once
#include <cstddef>
#include <string>

// Resuming a broken download with a byte range: what a reply's head says
// about it, the request lines that ask for the rest, and how a reply to such
// a request is taken. Platform-neutral; the three layers of the page request
// fill a ReplyHead from their own reply and write the body through a
// ReplySink.
namespace RangeResume {

// Longest validator sent back in If-Range; a longer one is not used.
constexpr std::size_t kMaxValidator = 512;

// The parts of a reply head that matter for a download.
struct ReplyHead {
  int iStatus = 0;
  std::string sETag;          // empty: none
  std::string sLastModified;  // empty: none
  std::string sAcceptRanges;
  std::string sContentRange;  // empty: none
  long long iContentLength = -1;  // -1: not announced
};

// The validator a later If-Range sends: the ETag, else Last-Modified, else
// empty. A weak ETag ("W/...") may not be used for ranges and counts as none;
// a value with a line break or longer than kMaxValidator is refused.
std::string ChooseValidator(const ReplyHead& head);

// "bytes FIRST-LAST/TOTAL" (TOTAL may be "*"; *pTotal is then -1). False for
// anything else, for LAST before FIRST and for LAST not below a known TOTAL.
bool ParseContentRange(const std::string& sValue, long long* pFirst, long long* pLast, long long* pTotal);

// "Range: bytes=FROM-\r\nIf-Range: VALIDATOR\r\n", or the empty text when
// iFrom is 0 (the whole package is asked for).
std::string RangeLines(long long iFrom, const std::string& sValidator);

enum class Verdict {
  kAppend,     // a 206 with the rest asked for: its body follows the bytes held
  kFromStart,  // a 200: its body is the whole package, the bytes held go
  kRefuse,     // anything else: the attempt is incomplete
};

// How a reply is taken that answers a request from iAskedFrom (0: the whole
// package, no Range sent) of a package of iSize bytes. A 206 counts only when
// a range was asked for and its Content-Range starts at iAskedFrom and ends
// at the package's last byte of the known size. *pReason (may be null) gets
// the reason of a refusal for the log.
Verdict Judge(const ReplyHead& head, long long iAskedFrom, long long iSize, std::string* pReason);

// Whether a later request may ask for the rest: the reply carried a
// validator and either said "Accept-Ranges: bytes" or was itself a 206.
bool AllowsResume(const ReplyHead& head);

// Where the page request writes a download's body (the package file),
// shared by its three layers. Called from the downloading thread only.
class ReplySink {
 public:
  virtual ~ReplySink() = default;
  // What the next request asks for: the offset (0: the whole package) and
  // the validator that goes with it.
  virtual long long ResumeFrom(std::string* pValidator) = 0;
  // A reply's head arrived for a request from iAskedFrom; false: its body is
  // not taken (the request failed).
  virtual bool Begin(const ReplyHead& head, long long iAskedFrom) = 0;
  // Body bytes in arrival order; false when they cannot be kept.
  virtual bool Write(const char* pData, std::size_t n) = 0;
  // Bytes of the package held so far, counted from its first byte.
  virtual long long Held() = 0;
  // The body ended early after bytes of a reply that can be resumed, or the
  // package turned out to have another size: the other ways through the
  // network would only ask again for what the next attempt asks for.
  virtual bool BrokenResumable() = 0;
};

}  // namespace RangeResume

#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "code/utility/net/rangeresume.h"

// Plain HTTP/1.0 download over a stream socket (the last resort of the page
// request) and host name resolution. Splitting the URL, the request text and
// reading the reply are platform-neutral; the socket calls are Windows only.
namespace Utility {

// Longest scheme part ("https:") before "//".
constexpr std::size_t kMaxSchemeLength = 31;
// First receive, and later receives for whole files / for small reads.
constexpr int kFirstReceiveSize = 65536;
constexpr int kLargeReceiveSize = 65536;
constexpr int kSmallReceiveSize = 14336;
// A reply without Content-Length is read until the server closes, up to this.
constexpr int kMaxUnannouncedBody = 64 * 1024 * 1024;
// The reply head (status line and header lines up to the empty line) may
// arrive over several receives but may not be longer than this.
constexpr int kMaxHeaderSize = 16 * 1024;
// Connect and receive time-out of the socket download.
constexpr int kSocketTimeoutMs = 90000;

// Splits "scheme://host:port/path?query". The port is 80, 443 for "https:",
// or the one given after the host (1 to 65535, anything else fails). The path
// starts with "/" or is empty. A scheme longer than kMaxSchemeLength fails.
bool ParseURL(const char* sURL, std::string& sHost, int& iPort, std::string& sPath);

// True when sHost is written as an address already: four dot-separated parts
// whose first reads as a non-zero decimal number.
bool IsFourPartAddress(const char* sHost);

// The exact request the socket download sends (an empty path asks for "/"),
// with sExtraLines (each ending "\r\n") before its last line.
std::string BuildDownloadRequest(const std::string& sHost, int iPort, const std::string& sPath,
                                 const std::string& sExtraLines = std::string());

// One receive from the connection into pBuffer, at most iMax bytes: the
// count, 0 when the peer closed, below 0 on an error or a time-out.
using ReceiveFunction = std::function<int(char* pBuffer, int iMax)>;

enum class DownloadStatus {
  kOk,              // *ppData/*piSize hold the body (no data for an empty body)
  kReceiveFailed,   // a receive failed or timed out (the caller logs its error)
  kClosedEarly,     // the server closed before the announced body was complete
  kInvalidHeader,   // a length is known but the head never ended, or the head is too long
  kTooLarge,        // the body cannot be held
  kRefused,         // the sink did not take the reply or its bytes (StreamDownloadReply)
};

// Value of the first head line whose name is sName (exactly, ignoring case:
// "X-Content-Length" is not "Content-Length"), without the blanks after the
// colon and without the line end. False when no line has that name.
bool FindHeaderValue(const char* pHead, std::size_t iHeadSize, const char* sName, std::string* pValue);

// Reads one reply: the head (over as many receives as it takes, at most
// kMaxHeaderSize bytes), the body length (iExpectedSize, else the reply's
// Content-Length), then the rest of the body, each receive asking for no more
// than is still missing. iMaxSize is the most body bytes the caller takes: a
// longer body is cut there, and no block larger than iMaxSize + 1 is ever
// allocated for it whatever the server announces; an expected size beyond it
// is refused. oData gets a block of the body plus one zero byte (it may
// hold a part of the body after a failure), *piSize the body length,
// *piReceived the body bytes received so far.
DownloadStatus ReadDownloadReply(const ReceiveFunction& fnReceive, int iExpectedSize, int iMaxSize,
                                 bool bUseMinReadBuffer, std::unique_ptr<char[]>& oData, int* piSize,
                                 std::atomic<int>* piReceived);

// Status, validators, ranges and length of a reply head.
RangeResume::ReplyHead ParseReplyHead(const char* pHead, std::size_t iHeadSize);

// Reads one reply of a download to a file: the head as ReadDownloadReply
// does, then (when sink.Begin takes the head as an answer to a request from
// iAskedFrom) the body through sink, in receives of at most iReadSize bytes
// that never ask past iExpectedSize bytes of the whole package. *piReceived
// follows sink.Held().
DownloadStatus StreamDownloadReply(const ReceiveFunction& fnReceive, int iExpectedSize, long long iAskedFrom,
                                   RangeResume::ReplySink& sink, int iReadSize, std::atomic<int>* piReceived);

// Windows only -------------------------------------------------------------

// Fetches sURL over plain HTTP (port 443 becomes 80) into a block of at
// most iMaxSize body bytes and a zero byte (see ReadDownloadReply); nothing
// is handed out after a failure.
bool URLDownload(const char* sURL, int iExpectedSize, int iMaxSize, bool bUseMinReadBuffer,
                 std::unique_ptr<char[]>& oData, int* pSize, std::atomic<int>* pReceived);

// Fetches sURL over plain HTTP into sink (see StreamDownloadReply); with
// iFrom above 0 the request carries the Range and If-Range lines.
bool URLDownloadTo(const char* sURL, int iExpectedSize, long long iFrom, const std::string& sValidator,
                   RangeResume::ReplySink& sink, int iReadSize, std::atomic<int>* pReceived);

// Dotted IPv4 text of sHost from the system resolver.
bool GetIPAddressByName(const char* sHost, std::string& sIP);
// As above, then the Winsock name-space lookup.
bool ResolveHostName(const char* sHost, std::string& sIP);

// Connect, send and receive time-out of the socket download, and of each
// HTTP request of the page request (tests shorten it).
void SetSocketTimeoutMs(int iMilliseconds);
int GetSocketTimeoutMs();

// Shuts the socket down both ways, reads at most 128 bytes once, closes it.
void CloseSocket(std::uintptr_t iSocket);

}  // namespace Utility

#include "code/utility/net/socketdownload.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer runtime: the size of a heap block as it was allocated.
extern "C" std::size_t __sanitizer_get_allocated_size(const volatile void* p);
#define QV_HAVE_ALLOCATED_SIZE 1
#endif

#include "tests/unit/logcapture.h"

TEST(ParseURL, SplitsHostPortAndPath) {
  struct Case {
    const char* sURL;
    bool bOk;
    const char* sHost;
    int iPort;
    const char* sPath;
  } cases[] = {
      {"https://acc.example.test/as/wapi/get_client?client=pc&x=1", true, "acc.example.test", 443,
       "/as/wapi/get_client?client=pc&x=1"},
      {"HTTPS://h/p", true, "h", 443, "/p"},
      {"http://127.0.0.2:8889/as/wapi/ssi?sid=1", true, "127.0.0.2", 8889, "/as/wapi/ssi?sid=1"},
      {"http://127.0.0.2", true, "127.0.0.2", 80, ""},
      {"myhost:8889", true, "myhost", 8889, ""},
      {"ftp://h:21/a b c", true, "h", 21, "/a"},
      {"https://h:80/x", true, "h", 80, "/x"},
      {"http://h:0/x", false, "", 0, ""},
      {"http://h:abc/x", false, "", 0, ""},
      {"http://h:70000/x", false, "", 0, ""},
      {"http://h:-1/x", false, "", 0, ""},
      {"abcdefghijklmnopqrstuvwxyz01234://h/x", false, "", 0, ""},  // 32 characters before "//"
      {"abcdefghijklmnopqrstuvwxyz0123://h/x", true, "h", 80, "/x"},  // 31 characters
  };
  for (const Case& c : cases) {
    std::string sHost, sPath;
    int iPort = -7;
    EXPECT_EQ(Utility::ParseURL(c.sURL, sHost, iPort, sPath), c.bOk) << c.sURL;
    if (!c.bOk) continue;
    EXPECT_EQ(sHost, c.sHost) << c.sURL;
    EXPECT_EQ(iPort, c.iPort) << c.sURL;
    EXPECT_EQ(sPath, c.sPath) << c.sURL;
  }
}

TEST(IsFourPartAddress, FirstPartNonZeroAndFourParts) {
  struct Case {
    const char* sHost;
    bool bAddress;
  } cases[] = {
      {"127.0.0.2", true}, {"10.x.y.z", true},  {"0.1.2.3", false},     {"1.2.3", false},
      {"1.2.3.4.5", false}, {"host.example.test", false}, {"localhost", false}, {"a1.2.3.4", false},
  };
  for (const Case& c : cases) EXPECT_EQ(Utility::IsFourPartAddress(c.sHost), c.bAddress) << c.sHost;
}

TEST(BuildDownloadRequest, ExactText) {
  EXPECT_EQ(Utility::BuildDownloadRequest("127.0.0.2", 80, ""),
            "GET / HTTP/1.0\r\n"
            "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/vnd.ms-powerpoint, "
            "application/vnd.ms-excel, application/msword, application/x-shockwave-flash, */*\r\n"
            "Accept-Language: en-us\r\n"
            "Pragma: no-cache\r\n"
            "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0; .NET CLR 1.0.3705; .NET CLR 1.1.4322)\r\n"
            "Host: 127.0.0.2:80\r\n"
            "Connection: Keep-Alive\r\n\r\n");
  const std::string s = Utility::BuildDownloadRequest("h", 8889, "/a?b=1");
  EXPECT_EQ(s.substr(0, s.find("\r\n")), "GET /a?b=1 HTTP/1.0");
  EXPECT_NE(s.find("\r\nHost: h:8889\r\n"), std::string::npos);
}

namespace {
// Plays back a scripted connection and records what each receive asked for.
struct ScriptedConnection {
  ScriptedConnection(std::deque<std::string> c, int iFail = -1) : chunks(std::move(c)), iFailAt(iFail) {}
  std::deque<std::string> chunks;  // each receive hands out (part of) the next chunk
  int iFailAt;                      // receive number that fails
  std::vector<int> asks;
  int operator()(char* p, int iMax) {
    asks.push_back(iMax);
    if (static_cast<int>(asks.size()) - 1 == iFailAt) return -1;
    if (chunks.empty()) return 0;
    std::string& s = chunks.front();
    const int n = static_cast<int>(s.size()) < iMax ? static_cast<int>(s.size()) : iMax;
    std::memcpy(p, s.data(), static_cast<std::size_t>(n));
    s.erase(0, static_cast<std::size_t>(n));
    if (s.empty()) chunks.pop_front();
    return n;
  }
};

struct Outcome {
  Utility::DownloadStatus eStatus;
  std::string sData;
  bool bHasData;
  int iSize;
  int iReceived;
  std::size_t iAllocated;  // size of the block handed out (0 when unknown)
};

Outcome Download(ScriptedConnection& conn, int iExpected = 0, bool bMin = false, int iMax = 1 << 20) {
  std::unique_ptr<char[]> oData(new char[1]);
  int iSize = -1;
  std::atomic<int> iReceived{0};
  auto fn = [&conn](char* p, int n) { return conn(p, n); };
  Outcome o;
  o.eStatus = Utility::ReadDownloadReply(fn, iExpected, iMax, bMin, oData, &iSize, &iReceived);
  const char* pData = oData.get();
  o.bHasData = pData != nullptr;
  o.iSize = iSize;
  o.iReceived = iReceived;
  o.iAllocated = 0;
#ifdef QV_HAVE_ALLOCATED_SIZE
  if (pData) o.iAllocated = __sanitizer_get_allocated_size(pData);
#endif
  if (pData) {
    o.sData.assign(pData, pData + (iSize > 0 ? iSize : 0));
    EXPECT_EQ(pData[iSize > 0 ? iSize : 0], 0);  // terminated after the body
  }
  return o;
}
}  // namespace

TEST(ReadDownloadReply, BodyByContentLength) {
  LogCapture log;
  ScriptedConnection conn({"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello"});
  Outcome o = Download(conn);
  EXPECT_EQ(o.eStatus, Utility::DownloadStatus::kOk);
  EXPECT_EQ(o.sData, "hello");
  EXPECT_EQ(o.iSize, 5);
  EXPECT_EQ(o.iReceived, 5);
  EXPECT_EQ(conn.asks, std::vector<int>{65535});
}

TEST(ReadDownloadReply, LaterReceivesAskOnlyForWhatIsMissing) {
  std::string sBody(40000, 'b');
  sBody[39999] = 'Z';
  ScriptedConnection conn({"HTTP/1.0 200 OK\r\nContent-Length: 40000\r\n\r\n" + sBody.substr(0, 1000),
                           sBody.substr(1000)});
  Outcome o = Download(conn, 0, true);
  EXPECT_EQ(o.eStatus, Utility::DownloadStatus::kOk);
  EXPECT_EQ(o.sData, sBody);
  EXPECT_EQ(o.iReceived, 40000);
  EXPECT_EQ(conn.asks, (std::vector<int>{65535, 14335, 14335, 10330}));
}

TEST(ReadDownloadReply, ExpectedSizeWinsOverContentLength) {
  ScriptedConnection conn({"HTTP/1.0 200 OK\r\nContent-Length: 99\r\n\r\nabc", "defgh"});
  Outcome o = Download(conn, 6);
  EXPECT_EQ(o.eStatus, Utility::DownloadStatus::kOk);
  EXPECT_EQ(o.sData, "abcdef");
  EXPECT_EQ(conn.asks, (std::vector<int>{65535, 3}));
}

TEST(ReadDownloadReply, ExtraBytesInFirstReceiveAreNotCopied) {
  ScriptedConnection conn({"HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nabcdefgh"});
  Outcome o = Download(conn);
  EXPECT_EQ(o.eStatus, Utility::DownloadStatus::kOk);
  EXPECT_EQ(o.sData, "abc");
  EXPECT_EQ(o.iReceived, 3);
}

TEST(ReadDownloadReply, ZeroOrNegativeLengthIsSuccessWithoutData) {
  for (const char* sLength : {"0", "-5", " x"}) {
    LogCapture log;
    ScriptedConnection conn({std::string("HTTP/1.0 200 OK\r\nContent-Length:") + sLength + "\r\n\r\nzz"});
    Outcome o = Download(conn);
    EXPECT_EQ(o.eStatus, Utility::DownloadStatus::kOk) << sLength;
    EXPECT_FALSE(o.bHasData) << sLength;
    EXPECT_EQ(o.iSize, 0) << sLength;
    EXPECT_TRUE(log.Contains("no new download"));
  }
}

TEST(ReadDownloadReply, WithoutContentLength) {
  {
    LogCapture log;
    ScriptedConnection conn({"HTTP/1.0 200 OK\r\nServer: x\r\n\r\nfirst", "second"});
    Outcome o = Download(conn);
    EXPECT_EQ(o.eStatus, Utility::DownloadStatus::kOk);
    EXPECT_EQ(o.sData, "firstsecond");  // read until the server closes
    EXPECT_EQ(o.iReceived, 11);
    EXPECT_TRUE(log.Contains("missing Content-Length"));
  }
  {
    ScriptedConnection conn({"HTTP/1.0 200 OK\r\n", "Server: x\r\n"});
    Outcome o = Download(conn);
    EXPECT_EQ(o.eStatus, Utility::DownloadStatus::kOk);
    EXPECT_EQ(o.sData, "HTTP/1.0 200 OK\r\nServer: x\r\n");  // the server closed before the head ended
    EXPECT_EQ(conn.asks, (std::vector<int>{65535, 65518, 65507}));
  }
  {
    // "Content-Length:" inside the body is not a header.
    ScriptedConnection conn({"HTTP/1.0 200 OK\r\n\r\nContent-Length: 900\r\n"});
    Outcome o = Download(conn);
    EXPECT_EQ(o.sData, "Content-Length: 900\r\n");
  }
}

TEST(ReadDownloadReply, Failures) {
  struct Case {
    const char* sName;
    std::deque<std::string> chunks;
    int iFailAt;
    Utility::DownloadStatus eStatus;
    const char* sLog;
  } cases[] = {
      {"nothing", {}, -1, Utility::DownloadStatus::kReceiveFailed, nullptr},
      {"first fails", {"x"}, 0, Utility::DownloadStatus::kReceiveFailed, nullptr},
      {"head never ends", {"HTTP/1.0 200 OK\r\nContent-Length: 5\r\n"}, -1,
       Utility::DownloadStatus::kInvalidHeader, "invalid header"},
      {"closed early", {"HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n1234"}, -1,
       Utility::DownloadStatus::kClosedEarly, "connection closed after 4 of 10 body bytes"},
      {"later receive fails", {"HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n1234"}, 1,
       Utility::DownloadStatus::kReceiveFailed, nullptr},
      {"huge length", {"HTTP/1.0 200 OK\r\nContent-Length: 99999999999\r\n\r\n1"}, -1,
       Utility::DownloadStatus::kClosedEarly, "connection closed after 1 of 1048576 body bytes"},
      {"head fails later", {"HTTP/1.0 200 OK\r\n"}, 1, Utility::DownloadStatus::kReceiveFailed, nullptr},
  };
  for (Case& c : cases) {
    LogCapture log;
    ScriptedConnection conn{c.chunks, c.iFailAt};
    Outcome o = Download(conn);
    EXPECT_EQ(o.eStatus, c.eStatus) << c.sName;
    if (c.sLog) {
      EXPECT_TRUE(log.Contains(c.sLog)) << c.sName;
    }
  }
}

TEST(FindHeaderValue, NamesMatchExactlyIgnoringCase) {
  struct Case {
    const char* sHead;
    bool bFound;
    const char* sValue;
  } cases[] = {
      {"HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\n", true, "5"},
      {"HTTP/1.0 200 OK\r\ncontent-LENGTH:\t 12 \r\n\r\n", true, "12 "},
      {"HTTP/1.0 200 OK\nContent-Length:7\n\n", true, "7"},
      {"HTTP/1.0 200 OK\r\nX-Content-Length: 9\r\n\r\n", false, ""},
      {"HTTP/1.0 200 OK\r\nContent-Lengthy: 9\r\n\r\n", false, ""},
      {"HTTP/1.0 200 OK\r\nContent-Length : 9\r\n\r\n", false, ""},
      {"HTTP/1.0 200 OK\r\n Content-Length: 9\r\n\r\n", false, ""},
      {"HTTP/1.0 200 OK\r\nX: Content-Length: 9\r\n\r\n", false, ""},
      {"HTTP/1.0 200 OK\r\nContent-Length:", true, ""},
      {"HTTP/1.0 200 OK\r\nX-Content-Length: 9\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\n", true, "3"},
  };
  for (const Case& c : cases) {
    std::string sValue = "unset";
    EXPECT_EQ(Utility::FindHeaderValue(c.sHead, std::strlen(c.sHead), "Content-Length", &sValue), c.bFound)
        << c.sHead;
    if (c.bFound) {
      EXPECT_EQ(sValue, c.sValue) << c.sHead;
    }
  }
}

TEST(ReadDownloadReply, HeadArrivesOverSeveralReceives) {
  // The empty line itself is split between receives.
  ScriptedConnection conn({"HTTP/1.0 200 OK\r\n", "content-length: 4\r", "\n\r", "\nab", "cd"});
  Outcome o = Download(conn);
  EXPECT_EQ(o.eStatus, Utility::DownloadStatus::kOk);
  EXPECT_EQ(o.sData, "abcd");
  EXPECT_EQ(conn.asks, (std::vector<int>{65535, 65518, 65500, 65498, 2}));

  // A length only in a look-alike header is no length: read to the close.
  LogCapture log;
  ScriptedConnection other({"HTTP/1.0 200 OK\r\nX-Content-Length: 900\r\n\r\nxyz", "w"});
  o = Download(other);
  EXPECT_EQ(o.eStatus, Utility::DownloadStatus::kOk);
  EXPECT_EQ(o.sData, "xyzw");
  EXPECT_TRUE(log.Contains("missing Content-Length"));
}

TEST(ReadDownloadReply, HeadIsBounded) {
  const std::string sStatus = "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n";
  // A filler line that makes the head, empty line included, exactly n bytes.
  auto head = [&](std::size_t n) { return sStatus + "X: " + std::string(n - sStatus.size() - 7, 'y') + "\r\n\r\n"; };
  {
    const std::string sHead = head(Utility::kMaxHeaderSize);
    ASSERT_EQ(sHead.size(), static_cast<std::size_t>(Utility::kMaxHeaderSize));
    ScriptedConnection conn({sHead.substr(0, 9000), sHead.substr(9000) + "ok"});
    Outcome o = Download(conn);
    EXPECT_EQ(o.eStatus, Utility::DownloadStatus::kOk);
    EXPECT_EQ(o.sData, "ok");
  }
  {
    LogCapture log;
    const std::string sHead = head(Utility::kMaxHeaderSize + 1);
    ScriptedConnection conn({sHead.substr(0, 9000), sHead.substr(9000), "ok"});
    Outcome o = Download(conn);
    EXPECT_EQ(o.eStatus, Utility::DownloadStatus::kInvalidHeader);
    EXPECT_FALSE(o.bHasData);
    EXPECT_EQ(log.messages(), std::vector<std::string>{"reply head longer than 16384 bytes"});
    EXPECT_EQ(conn.asks.size(), 2u);  // nothing more is read
  }
  {
    // Bytes without any head end are not read for ever either.
    LogCapture log;
    ScriptedConnection conn({std::string(100000, 'z')});
    Outcome o = Download(conn);
    EXPECT_EQ(o.eStatus, Utility::DownloadStatus::kInvalidHeader);
    EXPECT_EQ(log.messages(), std::vector<std::string>{"reply head longer than 16384 bytes"});
  }
}

// Whatever the server announces, the block handed out holds at most the
// caller's maximum (plus the terminator).
TEST(ReadDownloadReply, NeverMoreThanTheCallersMaximum) {
  const std::string sBody(5000, 'b');
  struct Case {
    const char* sName;
    std::deque<std::string> chunks;
    int iExpected;
    Utility::DownloadStatus eStatus;
    std::string sData;
    std::vector<std::string> logs;
  } cases[] = {
      {"announced far beyond", {"HTTP/1.0 200 OK\r\nContent-Length: 2000000000\r\n\r\n", sBody}, 0,
       Utility::DownloadStatus::kOk, sBody.substr(0, 2048), {"reply of 2000000000 bytes is cut to 2048 bytes"}},
      {"announced beyond, closed early", {"HTTP/1.0 200 OK\r\nContent-Length: 2000000000\r\n\r\n0123456789"}, 0,
       Utility::DownloadStatus::kClosedEarly, "0123456789",
       {"reply of 2000000000 bytes is cut to 2048 bytes", "connection closed after 10 of 2048 body bytes"}},
      {"unannounced beyond", {"HTTP/1.0 200 OK\r\n\r\n" + sBody.substr(0, 1000), sBody.substr(1000)}, 0,
       Utility::DownloadStatus::kOk, sBody.substr(0, 2048),
       {"missing Content-Length", "reply without Content-Length is cut to 2048 bytes"}},
      {"unannounced exactly", {"HTTP/1.0 200 OK\r\n\r\n", sBody.substr(0, 2048)}, 0, Utility::DownloadStatus::kOk,
       sBody.substr(0, 2048), {"missing Content-Length"}},
      {"no head at all", {sBody.substr(0, 3000)}, 0, Utility::DownloadStatus::kOk, sBody.substr(0, 2048),
       {"missing Content-Length", "reply without Content-Length is cut to 2048 bytes"}},
      {"expected beyond", {"HTTP/1.0 200 OK\r\n\r\n" + sBody}, 2049, Utility::DownloadStatus::kTooLarge, "",
       {"expected size of 2049 bytes does not fit the 2048 bytes the caller takes"}},
      {"expected exactly", {"HTTP/1.0 200 OK\r\nContent-Length: 9\r\n\r\n" + sBody}, 2048,
       Utility::DownloadStatus::kOk, sBody.substr(0, 2048), {}},
  };
  for (Case& c : cases) {
    LogCapture log;
    ScriptedConnection conn{c.chunks};
    Outcome o = Download(conn, c.iExpected, false, 2048);
    EXPECT_EQ(o.eStatus, c.eStatus) << c.sName;
    EXPECT_EQ(o.sData.substr(0, static_cast<std::size_t>(o.iReceived)), c.sData) << c.sName;  // what arrived
    EXPECT_EQ(log.messages(), c.logs) << c.sName;
    EXPECT_LE(o.iAllocated, 2049u) << c.sName;
    if (c.eStatus == Utility::DownloadStatus::kTooLarge) {
      EXPECT_TRUE(conn.asks.empty()) << c.sName;
    }
  }
}

TEST(BuildDownloadRequest, RangeLinesGoBeforeTheLastLine) {
  const std::string s = Utility::BuildDownloadRequest("127.0.0.2", 8889, "/as/wapi/get_client?client=pc",
                                                      "Range: bytes=300-\r\nIf-Range: \"v1\"\r\n");
  const std::string sEnd = "Host: 127.0.0.2:8889\r\nRange: bytes=300-\r\nIf-Range: \"v1\"\r\nConnection: Keep-Alive\r\n\r\n";
  ASSERT_GE(s.size(), sEnd.size());
  EXPECT_EQ(s.substr(s.size() - sEnd.size()), sEnd);
}

namespace {
// Takes what StreamDownloadReply hands on; Begin answers as told.
struct RecordingSink : RangeResume::ReplySink {
  bool bTake = true;
  long long iHeld = 0;
  std::string sBody;
  std::vector<RangeResume::ReplyHead> heads;
  std::vector<long long> asked;
  long long ResumeFrom(std::string*) override { return iHeld; }
  bool Begin(const RangeResume::ReplyHead& h, long long iAskedFrom) override {
    heads.push_back(h);
    asked.push_back(iAskedFrom);
    return bTake;
  }
  bool Write(const char* p, std::size_t n) override {
    sBody.append(p, n);
    iHeld += static_cast<long long>(n);
    return true;
  }
  long long Held() override { return iHeld; }
  bool BrokenResumable() override { return false; }
};
}  // namespace

TEST(StreamDownloadReply, TheRestOfARangeGoesToTheSinkInBoundedReceives) {
  const std::string sBody(1000, 'r');
  ScriptedConnection conn({"HTTP/1.1 206 Partial Content\r\nContent-Type: application/octet-stream\r\n"
                           "Content-Length: 1000\r\nETag: \"v1\"\r\nLast-Modified: Tue, 01 Dec 2026 10:00:00 GMT\r\n"
                           "Content-Range: bytes 300-1299/1300\r\nConnection: close\r\n\r\n" + sBody.substr(0, 100),
                           sBody.substr(100)});
  RecordingSink sink;
  sink.iHeld = 300;
  std::atomic<int> iReceived{0};
  auto fn = [&conn](char* p, int n) { return conn(p, n); };
  EXPECT_EQ(Utility::StreamDownloadReply(fn, 1300, 300, sink, 256, &iReceived), Utility::DownloadStatus::kOk);
  ASSERT_EQ(sink.heads.size(), 1u);
  const RangeResume::ReplyHead& h = sink.heads[0];
  EXPECT_EQ(h.iStatus, 206);
  EXPECT_EQ(h.sETag, "\"v1\"");
  EXPECT_EQ(h.sLastModified, "Tue, 01 Dec 2026 10:00:00 GMT");
  EXPECT_EQ(h.sContentRange, "bytes 300-1299/1300");
  EXPECT_EQ(h.sAcceptRanges, "");
  EXPECT_EQ(h.iContentLength, 1000);
  EXPECT_EQ(sink.asked, std::vector<long long>{300});
  EXPECT_EQ(sink.sBody, sBody);
  EXPECT_EQ(iReceived.load(), 1300);
  // After the head: blocks of the read size, the last one only what is missing.
  EXPECT_EQ(std::vector<int>(conn.asks.begin() + 1, conn.asks.end()), (std::vector<int>{256, 256, 256, 132}));
}

TEST(StreamDownloadReply, RefusedOrBrokenReplies) {
  struct Case {
    const char* sName;
    std::deque<std::string> chunks;
    bool bTake;
    Utility::DownloadStatus eStatus;
    std::string sBody;
  } cases[] = {
      {"refused head", {"HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */10\r\n\r\n"}, false,
       Utility::DownloadStatus::kRefused, ""},
      {"closed early", {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123"}, true,
       Utility::DownloadStatus::kClosedEarly, "0123"},
      {"more than the package", {"HTTP/1.1 200 OK\r\nContent-Length: 12\r\n\r\n0123456789ab"}, true,
       Utility::DownloadStatus::kOk, "0123456789"},
      {"head never ends", {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n"}, true, Utility::DownloadStatus::kInvalidHeader,
       ""},
  };
  for (Case& c : cases) {
    ScriptedConnection conn(c.chunks);
    RecordingSink sink;
    sink.bTake = c.bTake;
    auto fn = [&conn](char* p, int n) { return conn(p, n); };
    EXPECT_EQ(Utility::StreamDownloadReply(fn, 10, 0, sink, 4096, nullptr), c.eStatus) << c.sName;
    EXPECT_EQ(sink.sBody, c.sBody) << c.sName;
  }
}

#include "code/setuphandler/packagefile.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/unit/logcapture.h"

using RangeResume::ReplyHead;

namespace {
// The file in memory; a limit makes it refuse bytes like a full disk.
struct MemoryOutput : PackageFile::Output {
  std::string* pBytes;
  std::size_t iLimit;
  MemoryOutput(std::string* p, std::size_t iMax) : pBytes(p), iLimit(iMax) {}
  bool Restart() override {
    pBytes->clear();
    return true;
  }
  bool Append(const char* p, std::size_t n) override {
    if (pBytes->size() + n > iLimit) return false;
    pBytes->append(p, n);
    return true;
  }
  bool Flush() override { return true; }
};

const std::string kPackage = "0123456789abcdefghij";  // 20 bytes
const char kTag[] = "\"v1\"";

ReplyHead Whole(const char* sETag = kTag, const char* sAcceptRanges = "bytes", long long iLength = 20) {
  ReplyHead h;
  h.iStatus = 200;
  h.sETag = sETag;
  h.sAcceptRanges = sAcceptRanges;
  h.iContentLength = iLength;
  return h;
}

ReplyHead Rest(long long iFrom, const char* sETag = kTag) {
  ReplyHead h;
  h.iStatus = 206;
  h.sETag = sETag;
  h.sContentRange = "bytes " + std::to_string(iFrom) + "-19/20";
  h.iContentLength = 20 - iFrom;
  return h;
}

struct Fixture {
  std::string sFile;
  PackageFile file;
  explicit Fixture(std::size_t iLimit = 1000)
      : file(std::unique_ptr<PackageFile::Output>(new MemoryOutput(&sFile, iLimit)), 20) {}
  // One attempt: its request, a reply head, then n body bytes from the
  // package at the offset the reply is for. Returns what the request asked.
  struct Asked {
    long long iFrom;
    std::string sValidator;
    bool bBegun;
  };
  Asked Attempt(const ReplyHead& head, std::size_t n, const std::string& sBody = kPackage) {
    const int iAttempt = file.NewAttempt();
    std::unique_ptr<RangeResume::ReplySink> pSink = file.SinkFor(iAttempt);
    Asked a;
    a.iFrom = pSink->ResumeFrom(&a.sValidator);
    a.bBegun = pSink->Begin(head, a.iFrom);
    const std::size_t iAt = head.iStatus == 206 ? static_cast<std::size_t>(a.iFrom) : 0;
    if (a.bBegun && n > 0) {
      EXPECT_TRUE(pSink->Write(sBody.data() + iAt, n));
    }
    return a;
  }
};
}  // namespace

TEST(PackageFile, BrokenTransferResumesWithTheValidatorAndAppends) {
  Fixture f;
  const auto first = f.Attempt(Whole(), 8);
  EXPECT_EQ(first.iFrom, 0);
  EXPECT_TRUE(first.bBegun);
  EXPECT_TRUE(f.file.CanResume());
  const auto second = f.Attempt(Rest(8), 12);
  EXPECT_EQ(second.iFrom, 8);
  EXPECT_EQ(second.sValidator, kTag);
  EXPECT_EQ(f.sFile, kPackage);
  EXPECT_EQ(f.file.Held(), 20);
  EXPECT_FALSE(f.file.CanResume());  // nothing left to ask for
}

TEST(PackageFile, WholeReplyToARangeStartsOver) {
  Fixture f;
  f.Attempt(Whole(), 8);
  const std::string sNew = "ABCDEFGHIJKLMNOPQRST";
  const auto second = f.Attempt(Whole("\"v2\""), 20, sNew);
  EXPECT_EQ(second.iFrom, 8);
  EXPECT_TRUE(second.bBegun);
  EXPECT_EQ(f.sFile, sNew);  // no byte of the old package in front of the new one
  EXPECT_EQ(f.file.Held(), 20);
}

TEST(PackageFile, RepliesThatCannotFollowTheBytesHeldAreRefused) {
  struct Case {
    const char* sName;
    ReplyHead first;  // cut after 8 bytes
    ReplyHead second;
    long long iAsked;
    const char* sLogged;
  } cases[] = {
      {"206 of another package", Whole(), Rest(8, "\"v2\""), 8,
       "reply not taken: 206 from 8 with validator \"v2\", 8 bytes held with \"v1\""},
      {"206 where no range was asked", Whole(kTag, ""), Rest(8), 0, "reply not taken: 206 to a request without a range"},
      {"206 from elsewhere", Whole(), Rest(4), 8,
       "reply not taken: Content-Range \"bytes 4-19/20\" is not bytes 8-19/20"},
      {"whole package of another size", Whole(), Whole("\"v2\"", "bytes", 30), 8,
       "reply not taken: package of 30 bytes, 20 expected"},
  };
  for (const Case& c : cases) {
    Fixture f;
    f.Attempt(c.first, 8);
    LogCapture log;
    const auto second = f.Attempt(c.second, 0);
    EXPECT_EQ(second.iFrom, c.iAsked) << c.sName;
    EXPECT_FALSE(second.bBegun) << c.sName;
    EXPECT_TRUE(log.Contains(c.sLogged)) << c.sName;
    EXPECT_EQ(f.sFile, kPackage.substr(0, 8)) << c.sName;  // the bytes held stay as they were
    EXPECT_EQ(f.file.SizeChanged(), c.second.iContentLength == 30) << c.sName;
  }
}

TEST(PackageFile, WithoutRangeSupportEveryAttemptAsksForTheWhole) {
  struct Case {
    const char* sName;
    ReplyHead head;
  } cases[] = {{"no Accept-Ranges", Whole(kTag, "")}, {"no validator", Whole("", "bytes")}};
  for (const Case& c : cases) {
    Fixture f;
    f.Attempt(c.head, 8);
    EXPECT_FALSE(f.file.CanResume()) << c.sName;
    const auto second = f.Attempt(c.head, 20);
    EXPECT_EQ(second.iFrom, 0) << c.sName;
    EXPECT_EQ(f.sFile, kPackage) << c.sName;
  }
}

TEST(PackageFile, AGivenUpAttemptWritesNothingOnceTheNextHasStarted) {
  Fixture f;
  const int iOld = f.file.NewAttempt();
  auto pOld = f.file.SinkFor(iOld);
  ASSERT_TRUE(pOld->Begin(Whole(), 0));
  ASSERT_TRUE(pOld->Write(kPackage.data(), 5));
  const int iNew = f.file.NewAttempt();
  EXPECT_FALSE(pOld->Write(kPackage.data() + 5, 5));
  EXPECT_FALSE(pOld->Begin(Whole(), 0));
  auto pNew = f.file.SinkFor(iNew);
  std::string sValidator;
  EXPECT_EQ(pNew->ResumeFrom(&sValidator), 5);
  EXPECT_EQ(pOld->ResumeFrom(&sValidator), 0);
  ASSERT_TRUE(pNew->Begin(Rest(5), 5));
  EXPECT_TRUE(pNew->Write(kPackage.data() + 5, 15));
  EXPECT_TRUE(f.file.Close());
  EXPECT_FALSE(pNew->Write("x", 1));  // closed for good
  EXPECT_EQ(f.sFile, kPackage);
}

TEST(PackageFile, NeverHoldsMoreThanThePackageOrWhatTheFileTook) {
  Fixture f;
  const int iAttempt = f.file.NewAttempt();
  auto pSink = f.file.SinkFor(iAttempt);
  ASSERT_TRUE(pSink->Begin(Whole(), 0));
  ASSERT_TRUE(pSink->Write(kPackage.data(), 15));
  EXPECT_FALSE(pSink->Write("123456", 6));  // one byte too many
  EXPECT_EQ(f.file.Held(), 15);
  EXPECT_TRUE(pSink->BrokenResumable());

  Fixture full(10);  // a disk that takes 10 bytes
  const int i = full.file.NewAttempt();
  auto pFull = full.file.SinkFor(i);
  ASSERT_TRUE(pFull->Begin(Whole(), 0));
  ASSERT_TRUE(pFull->Write(kPackage.data(), 8));
  LogCapture log;
  EXPECT_FALSE(pFull->Write(kPackage.data() + 8, 8));
  EXPECT_TRUE(log.Contains("the package file takes no more bytes after 8"));
  EXPECT_FALSE(full.file.CanResume());  // what reached the file is unknown: start over
}

TEST(PackageFile, AResumeThatBroughtNothingIsForgotten) {
  Fixture f;
  f.Attempt(Whole(), 8);
  f.file.ForgetResume();
  EXPECT_EQ(f.Attempt(Whole(), 20).iFrom, 0);
  EXPECT_EQ(f.sFile, kPackage);
}

TEST(PackageFile, ANewSizeStartsOver) {
  Fixture f;
  f.Attempt(Whole(), 8);
  f.Attempt(Whole("\"v2\"", "bytes", 30), 0);
  ASSERT_TRUE(f.file.SizeChanged());
  f.file.SetSize(30);
  EXPECT_FALSE(f.file.SizeChanged());
  const std::string sNew(30, 'n');
  const auto a = f.Attempt(Whole("\"v2\"", "bytes", 30), 30, sNew);
  EXPECT_EQ(a.iFrom, 0);
  EXPECT_EQ(f.sFile, sNew);
}

#include "code/utility/net/rangeresume.h"

#include <gtest/gtest.h>

using RangeResume::ReplyHead;
using RangeResume::Verdict;

namespace {
ReplyHead Head(int iStatus, const char* sETag, const char* sLastModified, const char* sAcceptRanges,
               const char* sContentRange = "", long long iLength = -1) {
  ReplyHead h;
  h.iStatus = iStatus;
  h.sETag = sETag;
  h.sLastModified = sLastModified;
  h.sAcceptRanges = sAcceptRanges;
  h.sContentRange = sContentRange;
  h.iContentLength = iLength;
  return h;
}
const char kDate[] = "Tue, 01 Dec 2026 10:00:00 GMT";
}  // namespace

TEST(RangeResume, ValidatorIsTheStrongETagElseTheDate) {
  const std::string sLong(RangeResume::kMaxValidator + 1, 'x');
  struct Case {
    const char* sETag;
    const char* sLastModified;
    std::string sExpected;
  } cases[] = {
      {"\"5f1-abc\"", kDate, "\"5f1-abc\""},
      {"", kDate, kDate},
      {"W/\"5f1-abc\"", kDate, kDate},  // a weak tag cannot keep a range
      {"w/\"x\"", "", ""},
      {"\"a\"\r\nX-Evil: 1", kDate, kDate},  // never sent back with its line break
      {sLong.c_str(), "", ""},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RangeResume::ChooseValidator(Head(200, c.sETag, c.sLastModified, "bytes")), c.sExpected)
        << c.sETag << " | " << c.sLastModified;
  }
}

TEST(RangeResume, ContentRangeIsReadStrictly) {
  struct Case {
    const char* sValue;
    bool bOk;
    long long iFirst, iLast, iTotal;
  } cases[] = {
      {"bytes 500-999/1000", true, 500, 999, 1000},
      {"Bytes 0-0/1", true, 0, 0, 1},
      {"bytes 500-999/*", true, 500, 999, -1},
      {"bytes 500-1000/1000", false, 0, 0, 0},  // last byte past the end
      {"bytes 600-500/1000", false, 0, 0, 0},
      {"bytes */1000", false, 0, 0, 0},          // the answer of a 416
      {"bytes -5-999/1000", false, 0, 0, 0},
      {"bytes 500-999/1000 ", false, 0, 0, 0},
      {"items 500-999/1000", false, 0, 0, 0},
      {"bytes 5000000000000000000-5000000000000000001/*", false, 0, 0, 0},  // 19 digits
      {"", false, 0, 0, 0},
  };
  for (const Case& c : cases) {
    long long iFirst = -7, iLast = -7, iTotal = -7;
    EXPECT_EQ(RangeResume::ParseContentRange(c.sValue, &iFirst, &iLast, &iTotal), c.bOk) << c.sValue;
    if (!c.bOk) continue;
    EXPECT_EQ(iFirst, c.iFirst) << c.sValue;
    EXPECT_EQ(iLast, c.iLast) << c.sValue;
    EXPECT_EQ(iTotal, c.iTotal) << c.sValue;
  }
}

TEST(RangeResume, RangeLinesAskForTheRest) {
  EXPECT_EQ(RangeResume::RangeLines(21000, "\"5f1-abc\""), "Range: bytes=21000-\r\nIf-Range: \"5f1-abc\"\r\n");
  EXPECT_EQ(RangeResume::RangeLines(1, kDate), std::string("Range: bytes=1-\r\nIf-Range: ") + kDate + "\r\n");
  EXPECT_EQ(RangeResume::RangeLines(0, "\"x\""), "");
  EXPECT_EQ(RangeResume::RangeLines(5, ""), "");  // no range without a validator to keep it honest
  EXPECT_EQ(RangeResume::RangeLines(5, "\"a\"\nX: y"), "");
}

TEST(RangeResume, JudgeTakesOnlyTheRestAskedFor) {
  struct Case {
    const char* sName;
    ReplyHead head;
    long long iAskedFrom;
    Verdict verdict;
    const char* sReason;
  } cases[] = {
      {"whole", Head(200, "\"e\"", "", "bytes", "", 1000), 0, Verdict::kFromStart, ""},
      {"whole after a range (changed package)", Head(200, "\"f\"", "", "bytes", "", 1000), 400, Verdict::kFromStart, ""},
      {"the rest", Head(206, "\"e\"", "", "", "bytes 400-999/1000", 600), 400, Verdict::kAppend, ""},
      {"the rest, unknown total", Head(206, "\"e\"", "", "", "bytes 400-999/*"), 400, Verdict::kAppend, ""},
      {"206 not asked for", Head(206, "\"e\"", "", "", "bytes 0-999/1000"), 0, Verdict::kRefuse,
       "206 to a request without a range"},
      {"other start", Head(206, "\"e\"", "", "", "bytes 300-999/1000"), 400, Verdict::kRefuse,
       "Content-Range \"bytes 300-999/1000\" is not bytes 400-999/1000"},
      {"short of the end", Head(206, "\"e\"", "", "", "bytes 400-998/1000"), 400, Verdict::kRefuse,
       "Content-Range \"bytes 400-998/1000\" is not bytes 400-999/1000"},
      {"another package size", Head(206, "\"e\"", "", "", "bytes 400-999/2000"), 400, Verdict::kRefuse,
       "Content-Range \"bytes 400-999/2000\" is not bytes 400-999/1000"},
      {"length disagrees", Head(206, "\"e\"", "", "", "bytes 400-999/1000", 700), 400, Verdict::kRefuse,
       "Content-Length 700 does not match the range"},
      {"no Content-Range", Head(206, "\"e\"", "", ""), 400, Verdict::kRefuse, "Content-Range \"\" unreadable"},
      {"unsatisfiable", Head(416, "", "", "", "bytes */1000"), 400, Verdict::kRefuse, "status 416"},
      {"not found", Head(404, "", "", ""), 0, Verdict::kRefuse, "status 404"},
  };
  for (const Case& c : cases) {
    std::string sReason;
    EXPECT_EQ(RangeResume::Judge(c.head, c.iAskedFrom, 1000, &sReason), c.verdict) << c.sName;
    EXPECT_EQ(sReason, c.sReason) << c.sName;
  }
}

TEST(RangeResume, ResumeNeedsAValidatorAndRangeSupport) {
  struct Case {
    ReplyHead head;
    bool bResume;
  } cases[] = {
      {Head(200, "\"e\"", kDate, "bytes"), true},
      {Head(200, "", kDate, "Bytes"), true},
      {Head(200, "\"e\"", kDate, ""), false},      // no word of range support
      {Head(200, "\"e\"", kDate, "none"), false},
      {Head(200, "", "", "bytes"), false},         // nothing to keep the range honest
      {Head(200, "W/\"e\"", "", "bytes"), false},
      {Head(206, "\"e\"", "", "", "bytes 1-9/10"), true},  // a 206 proves the support (nginx sends no Accept-Ranges there)
      {Head(206, "", "", "bytes", "bytes 1-9/10"), false},
      {Head(404, "\"e\"", kDate, "bytes"), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RangeResume::AllowsResume(c.head), c.bResume)
        << c.head.iStatus << " " << c.head.sETag << " | " << c.head.sLastModified << " | " << c.head.sAcceptRanges;
  }
}

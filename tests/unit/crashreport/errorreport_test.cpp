#include "code/crashreport/errorreport.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>

#include "code/utility/text/encoding.h"

namespace {

// Base64 text of a zlib stream back to the bytes.
std::string Unpack(const std::string& sBase64) {
  const std::string sCompressed = Utility::Base64Decode(sBase64);
  std::string sOut(1 << 20, '\0');
  uLongf iLength = uLongf(sOut.size());
  if (uncompress(reinterpret_cast<Bytef*>(&sOut[0]), &iLength, reinterpret_cast<const Bytef*>(sCompressed.data()),
                 uLong(sCompressed.size())) != Z_OK)
    return "<not a zlib stream>";
  sOut.resize(iLength);
  return sOut;
}

std::string Between(const std::string& sText, const std::string& sStart, const std::string& sEnd) {
  const std::size_t a = sText.find(sStart);
  if (a == std::string::npos) return "<missing " + sStart + ">";
  const std::size_t b = sText.find(sEnd, a + sStart.size());
  if (b == std::string::npos) return "<missing " + sEnd + ">";
  return sText.substr(a + sStart.size(), b - a - sStart.size());
}

std::string RandomBytes(std::size_t n) {
  std::mt19937 oRandom(7);
  std::string s(n, '\0');
  for (auto& c : s) c = char(oRandom() & 0xff);
  return s;
}

ErrorReport::Inputs SampleInputs() {
  ErrorReport::Inputs o;
  o.sCurrentFile = "QuorumvesselStarter.exe";
  o.sCurrentDirectory = "C:\\Program Files\\QV";
  o.sVersion = "5.2.1 V5.0 SP1 of Bootkin";
  o.sComputerName = "desk7";
  o.sComputerIP = "127.0.0.1";
  o.sOSName = "Microsoft Windows XP Professional Service Pack 3 (Build 2600)";
  o.sIEVersion = "8.0.6001.18702";
  o.sIEMinorVersion = "Not Found";
  o.sIEBuild = "Not found";
  o.iLastError = 2;
  o.sLastErrorText = "File not found.\r\n";
  return o;
}

}  // namespace

TEST(ErrorReportBuildBody, LinesInOrderAndAttachmentsDecode) {
  const std::string sLog = "2026-12-09 10:00:00\nFunction: x\nLine: 1\nMessage: started\n";
  const std::string sCache = "<__A__>1</__A__><__GUI_PASSWORD__>s3cret</__GUI_PASSWORD__></__CACHE__>";
  const std::string sDump = std::string("MDMP\x93\xa7\0\0", 8) + RandomBytes(3000);
  ErrorReport::Inputs oInputs = SampleInputs();
  oInputs.pLogFile = &sLog;
  oInputs.pCacheFile = &sCache;
  oInputs.pDumpFile = &sDump;
  const std::string sBody = ErrorReport::BuildBody(oInputs);

  const std::string sHead =
      "Quorumvessel sCurrentFile = QuorumvesselStarter.exe\n"
      "sCurrentDirectory = C:\\Program Files\\QV\n"
      "\n\nVersion: 5.2.1 V5.0 SP1 of Bootkin\n"
      "Computer Name: desk7\n"
      "Computer IP: 127.0.0.1\n"
      "OS: Microsoft Windows XP Professional Service Pack 3 (Build 2600)\n"
      "IE: 8.0.6001.18702\n"
      "IE Minor: Not Found\n"
      "IE Build: Not found\n"
      "GetLastError() returns: 2\n"
      "Error: File not found.\r\n\n"
      "Log: original size = 58, compressed size = ";
  ASSERT_EQ(sBody.substr(0, sHead.size()), sHead);

  const std::string sLogBase64 = Between(sBody, "\n<___LOGFILE___>", "</___LOGFILE___>");
  const std::string sCacheBase64 = Between(sBody, "\n<___CACHEFILE___>", "</___CACHEFILE___>");
  const std::string sDumpBase64 = Between(sBody, "\n<___DUMPFILE___>", "</___DUMPFILE___>");
  EXPECT_EQ(Unpack(sLogBase64), sLog + std::string(1, '\0'));
  EXPECT_EQ(Unpack(sCacheBase64),
            "<__A__>1</__A__><__GUI_PASSWORD__></__GUI_PASSWORD__></__CACHE__>" + std::string(1, '\0'));
  EXPECT_EQ(Unpack(sDumpBase64), sDump);
  EXPECT_EQ(sBody.find("s3cret"), std::string::npos);

  // Summary lines carry the same sizes as the tags and the attachments.
  const std::string sDumpCompressed = Utility::Base64Decode(sDumpBase64);
  const std::string sDumpSummary = "\ndump: original size = 3008, compressed size = " +
                                   std::to_string(sDumpCompressed.size()) +
                                   ", base64-encoded size = " + std::to_string(sDumpBase64.size()) + "\n";
  EXPECT_NE(sBody.find(sDumpSummary), std::string::npos) << sBody.substr(0, 900);
  EXPECT_NE(sBody.find("\nCache: original size = 66, compressed size = "), std::string::npos);
  EXPECT_EQ(Between(sBody, "<___LOGFILESIZE___>", "</___LOGFILESIZE___>"), "58");
  EXPECT_EQ(Between(sBody, "<___CACHEFILESIZE___>", "</___CACHEFILESIZE___>"), "66");
  EXPECT_EQ(Between(sBody, "<___DUMPFILESIZE___>", "</___DUMPFILESIZE___>"), "3008");

  // Tags in order, body ends with the marker; base64 lines of 76 characters.
  std::size_t iAt = 0;
  for (const char* sTag : {"\n<___LOGFILESIZE___>", "\n<___LOGFILE___>", "\n<___CACHEFILESIZE___>",
                           "\n<___CACHEFILE___>", "\n<___DUMPFILESIZE___>", "\n<___DUMPFILE___>"}) {
    const std::size_t iNext = sBody.find(sTag, iAt);
    ASSERT_NE(iNext, std::string::npos) << sTag;
    iAt = iNext + 1;
  }
  EXPECT_EQ(sBody.substr(sBody.size() - 23), "</___DUMPFILE___>&&xyz\n");
  EXPECT_EQ(sDumpBase64.find('\n'), 76u);
}

TEST(ErrorReportBuildBody, MissingFilesGiveEmptyLinesAndZeroSizes) {
  const std::string sLog = "0123456789";  // 10 bytes are reported as 11
  ErrorReport::Inputs oInputs = SampleInputs();
  oInputs.pLogFile = &sLog;
  const std::string sBody = ErrorReport::BuildBody(oInputs);

  EXPECT_NE(sBody.find("\nLog: original size = 11, compressed size = "), std::string::npos);
  EXPECT_NE(sBody.find("\n<___LOGFILESIZE___>11</___LOGFILESIZE___>"), std::string::npos);
  const std::string sTail =
      "\n\n"  // empty cache and dump summary lines
      "\n<___LOGFILESIZE___>11</___LOGFILESIZE___>";
  EXPECT_NE(sBody.find(sTail), std::string::npos);
  const std::string sEnd =
      "\n<___CACHEFILESIZE___>0</___CACHEFILESIZE___>"
      "\n<___CACHEFILE___></___CACHEFILE___>"
      "\n<___DUMPFILESIZE___>0</___DUMPFILESIZE___>"
      "\n<___DUMPFILE___></___DUMPFILE___>&&xyz\n";
  ASSERT_GE(sBody.size(), sEnd.size());
  EXPECT_EQ(sBody.substr(sBody.size() - sEnd.size()), sEnd);
  EXPECT_EQ(Unpack(Between(sBody, "<___LOGFILE___>", "</___LOGFILE___>")), std::string("0123456789\0", 11));
}

TEST(ErrorReportBlankPassword, EveryValueEmptiedTagsKept) {
  struct Case {
    const char* sName;
    std::string sIn;
    std::string sOut;
  };
  const Case aCases[] = {
      {"one value", "<__X__>a</__X__><__GUI_PASSWORD__>pw</__GUI_PASSWORD__>tail",
       "<__X__>a</__X__><__GUI_PASSWORD__></__GUI_PASSWORD__>tail"},
      {"no element", "<__X__>a</__X__></__CACHE__>", "<__X__>a</__X__></__CACHE__>"},
      {"already empty", "<__GUI_PASSWORD__></__GUI_PASSWORD__>", "<__GUI_PASSWORD__></__GUI_PASSWORD__>"},
      {"two elements", "<__GUI_PASSWORD__>a</__GUI_PASSWORD__>-<__GUI_PASSWORD__>b</__GUI_PASSWORD__>",
       "<__GUI_PASSWORD__></__GUI_PASSWORD__>-<__GUI_PASSWORD__></__GUI_PASSWORD__>"},
      {"left open", "<__X__>a</__X__><__GUI_PASSWORD__>secret and the rest", "<__X__>a</__X__><__GUI_PASSWORD__>"},
      {"empty text", "", ""},
  };
  for (const Case& c : aCases) EXPECT_EQ(ErrorReport::BlankPassword(c.sIn), c.sOut) << c.sName;
}

TEST(ErrorReportCompress, RoundTripsAndRefusesWhatDoesNotFit) {
  const std::string sText = std::string(20000, 'a') + RandomBytes(5000);  // several 4096-byte chunks
  std::string sOut(sText.size() + 512, '\0');
  auto* pIn = reinterpret_cast<const unsigned char*>(sText.data());
  auto* pOut = reinterpret_cast<unsigned char*>(&sOut[0]);
  const std::size_t n = ErrorReport::Compress(pIn, sText.size(), pOut, sOut.size());
  ASSERT_GT(n, 0u);
  std::string sBack(sText.size(), '\0');
  uLongf iBack = uLongf(sBack.size());
  ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(&sBack[0]), &iBack, pOut, uLong(n)), Z_OK);
  EXPECT_EQ(sBack, sText);
  // Level 6 header.
  EXPECT_EQ(static_cast<unsigned char>(sOut[0]), 0x78);
  EXPECT_EQ(static_cast<unsigned char>(sOut[1]), 0x9c);

  // Random bytes grow when compressed: a buffer just short of the result is refused.
  const std::string sNoise = RandomBytes(50000);
  std::string sRoom(sNoise.size() + 512, '\0');
  auto* pNoise = reinterpret_cast<const unsigned char*>(sNoise.data());
  const std::size_t iFull =
      ErrorReport::Compress(pNoise, sNoise.size(), reinterpret_cast<unsigned char*>(&sRoom[0]), sRoom.size());
  ASSERT_GT(iFull, sNoise.size());
  EXPECT_EQ(ErrorReport::Compress(pNoise, sNoise.size(), reinterpret_cast<unsigned char*>(&sRoom[0]), iFull - 1), 0u);
  EXPECT_EQ(ErrorReport::Compress(pNoise, sNoise.size(), reinterpret_cast<unsigned char*>(&sRoom[0]), iFull), iFull);
}

TEST(ErrorReportPack, AttachmentThatDoesNotFitIsSentEmptyWithItsSizes) {
  const std::string sNoise = RandomBytes(40000);
  const ErrorReport::Attachment o = ErrorReport::Pack(&sNoise, false, 8, "dump");
  EXPECT_EQ(o.iOriginalSize, 40000u);
  EXPECT_EQ(o.iCompressedSize, 0u);
  EXPECT_EQ(o.sBase64, "");
  EXPECT_EQ(o.sSummary, "dump: original size = 40000, compressed size = 0, base64-encoded size = 0");

  const ErrorReport::Attachment oMissing = ErrorReport::Pack(nullptr, true, 512, "Log");
  EXPECT_EQ(oMissing.iOriginalSize, 0u);
  EXPECT_EQ(oMissing.sSummary, "");
  EXPECT_EQ(oMissing.sBase64, "");
}

TEST(ErrorReportBuildForm, EverythingButLettersDigitsAndThreeMarksIsEncoded) {
  EXPECT_EQ(ErrorReport::BuildForm("OS: Win 10\n<___A___>x-y_z.0&&xyz\n"),
            "error=OS%3A+Win+10%0A%3C___A___%3Ex-y_z.0%26%26xyz%0A");
}

#include "code/crashreport/errorreport.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "code/utility/text/encoding.h"

namespace {

constexpr std::size_t kCompressChunk = 4096;
constexpr int kCompressLevel = 6;
const char kPasswordStart[] = "<__GUI_PASSWORD__>";
const char kPasswordEnd[] = "</__GUI_PASSWORD__>";

std::string Decimal(unsigned long long iValue) {
  char sBuffer[32];
  std::snprintf(sBuffer, sizeof sBuffer, "%llu", iValue);
  return sBuffer;
}

void AppendTagged(std::string& sBody, const char* sName, const std::string& sValue) {
  sBody += "\n<___";
  sBody += sName;
  sBody += "___>";
  sBody += sValue;
  sBody += "</___";
  sBody += sName;
  sBody += "___>";
}

}  // namespace

std::size_t ErrorReport::Compress(const unsigned char* pInput, std::size_t iInputLength, unsigned char* pOutput,
                                  std::size_t iOutputCapacity) {
  if ((!pInput && iInputLength) || !pOutput || iOutputCapacity == 0) return 0;
  z_stream oStream{};
  if (deflateInit_(&oStream, kCompressLevel, "1.2.1", int(sizeof oStream)) != Z_OK) return 0;
  oStream.next_out = pOutput;
  std::size_t iConsumed = 0;
  bool bDone = false;
  bool bFailed = false;
  while (!bDone && !bFailed) {
    const std::size_t iChunk = std::min(kCompressChunk, iInputLength - iConsumed);
    oStream.next_in = const_cast<unsigned char*>(pInput) + iConsumed;
    oStream.avail_in = uInt(iChunk);
    iConsumed += iChunk;
    const int iFlush = iConsumed == iInputLength ? Z_FINISH : Z_NO_FLUSH;
    // Feed the chunk; the output buffer is never grown, so running out of
    // room there means the attachment does not fit.
    for (;;) {
      const std::size_t iRoom = iOutputCapacity - std::size_t(oStream.next_out - pOutput);
      oStream.avail_out = uInt(std::min<std::size_t>(iRoom, 0x40000000));
      const int iResult = deflate(&oStream, iFlush);
      if (iResult == Z_STREAM_END) {
        bDone = true;
        break;
      }
      if (iResult != Z_OK && iResult != Z_BUF_ERROR) {
        bFailed = true;
        break;
      }
      if (oStream.avail_in == 0 && iFlush == Z_NO_FLUSH) break;
      if (oStream.next_out == pOutput + iOutputCapacity) {
        bFailed = true;
        break;
      }
    }
  }
  const std::size_t iLength = std::size_t(oStream.next_out - pOutput);
  deflateEnd(&oStream);
  return bFailed ? 0 : iLength;
}

std::string ErrorReport::BlankPassword(const std::string& sCacheText) {
  // Every occurrence is emptied, not only the first: the report never
  // carries the password. A start tag left open drops everything after it.
  std::string sText = sCacheText;
  const std::size_t iStartLength = sizeof kPasswordStart - 1;
  std::size_t iFrom = 0;
  for (;;) {
    const std::size_t iStart = sText.find(kPasswordStart, iFrom);
    if (iStart == std::string::npos) break;
    const std::size_t iValue = iStart + iStartLength;
    const std::size_t iEnd = sText.find(kPasswordEnd, iValue);
    if (iEnd == std::string::npos) {
      sText.erase(iValue);
      break;
    }
    sText.erase(iValue, iEnd - iValue);
    iFrom = iValue;
  }
  return sText;
}

ErrorReport::Attachment ErrorReport::Pack(const std::string* pData, bool bTerminate, std::size_t iSpare,
                                          const char* sLabel) {
  Attachment oAttachment;
  if (!pData) return oAttachment;
  std::vector<unsigned char> aInput(pData->begin(), pData->end());
  if (bTerminate) aInput.push_back(0);
  oAttachment.iOriginalSize = aInput.size();
  std::vector<unsigned char> aOutput(aInput.size() + iSpare);
  oAttachment.iCompressedSize = Compress(aInput.data(), aInput.size(), aOutput.data(), aOutput.size());
  if (oAttachment.iCompressedSize > 0)
    Utility::Base64Encode(aOutput.data(), oAttachment.iCompressedSize, oAttachment.sBase64, true);
  char sSummary[160];
  std::snprintf(sSummary, sizeof sSummary, "%s: original size = %llu, compressed size = %llu, base64-encoded size = %llu",
                sLabel, (unsigned long long)oAttachment.iOriginalSize, (unsigned long long)oAttachment.iCompressedSize,
                (unsigned long long)oAttachment.sBase64.size());
  oAttachment.sSummary = sSummary;
  return oAttachment;
}

std::string ErrorReport::BuildBody(const Inputs& oInputs) {
  std::string sCache;
  const std::string* pCache = nullptr;
  if (oInputs.pCacheFile) {
    sCache = BlankPassword(*oInputs.pCacheFile);
    pCache = &sCache;
  }
  const Attachment oLog = Pack(oInputs.pLogFile, true, 512, "Log");
  const Attachment oCache = Pack(pCache, true, 512, "Cache");
  const Attachment oDump = Pack(oInputs.pDumpFile, false, 1000, "dump");

  std::string sBody;
  sBody += "Quorumvessel sCurrentFile = " + oInputs.sCurrentFile;
  sBody += "\nsCurrentDirectory = " + oInputs.sCurrentDirectory + "\n";
  sBody += "\n\nVersion: " + oInputs.sVersion;
  sBody += "\nComputer Name: " + oInputs.sComputerName;
  sBody += "\nComputer IP: " + oInputs.sComputerIP;
  sBody += "\nOS: " + oInputs.sOSName;
  sBody += "\nIE: " + oInputs.sIEVersion;
  sBody += "\nIE Minor: " + oInputs.sIEMinorVersion;
  sBody += "\nIE Build: " + oInputs.sIEBuild;
  sBody += "\nGetLastError() returns: " + Decimal(oInputs.iLastError);
  sBody += "\nError: " + oInputs.sLastErrorText;
  sBody += "\n" + oLog.sSummary;
  sBody += "\n" + oCache.sSummary;
  sBody += "\n" + oDump.sSummary;
  AppendTagged(sBody, "LOGFILESIZE", Decimal(oLog.iOriginalSize));
  AppendTagged(sBody, "LOGFILE", oLog.sBase64);
  AppendTagged(sBody, "CACHEFILESIZE", Decimal(oCache.iOriginalSize));
  AppendTagged(sBody, "CACHEFILE", oCache.sBase64);
  AppendTagged(sBody, "DUMPFILESIZE", Decimal(oDump.iOriginalSize));
  AppendTagged(sBody, "DUMPFILE", oDump.sBase64);
  sBody += "&&xyz\n";
  return sBody;
}

std::string ErrorReport::BuildForm(const std::string& sBody) {
  return "error=" + Utility::URLEncode(sBody);
}

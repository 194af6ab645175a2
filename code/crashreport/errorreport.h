#pragma once
#include <cstddef>
#include <string>

// The error report sent after a crash: what is known about the starter, the
// machine and the failure, with the run log, the client's Cache.xml (password
// blanked) and the minidump packed as zlib-compressed base64 text.
namespace ErrorReport {

// Everything the body is built from, gathered by Send on Windows.
struct Inputs {
  std::string sCurrentFile;       // executable file name
  std::string sCurrentDirectory;  // executable folder
  std::string sVersion;
  std::string sComputerName;
  std::string sComputerIP;
  std::string sOSName;
  std::string sIEVersion;
  std::string sIEMinorVersion;
  std::string sIEBuild;
  unsigned long iLastError = 0;
  std::string sLastErrorText;
  // File contents; a missing pointer means the file could not be read.
  const std::string* pLogFile = nullptr;
  const std::string* pCacheFile = nullptr;
  const std::string* pDumpFile = nullptr;
};

// One packed attachment.
struct Attachment {
  std::size_t iOriginalSize = 0;    // size reported (0 when the file is missing)
  std::size_t iCompressedSize = 0;  // 0 when the output did not fit its buffer
  std::string sBase64;              // empty when nothing was compressed
  std::string sSummary;             // empty when the file is missing
};

// zlib (level 6) into a buffer of the given capacity; the compressed length,
// or 0 when the output does not fit or compression fails.
std::size_t Compress(const unsigned char* pInput, std::size_t iInputLength, unsigned char* pOutput,
                     std::size_t iOutputCapacity);

// The cache text with the value of GUI_PASSWORD emptied (tags kept).
std::string BlankPassword(const std::string& sCacheText);

// Packs one file. bTerminate adds the zero byte sent after the log and the
// cache; iSpare is the room the compression buffer has over the input
// (512 for the log and the cache, 1000 for the dump). sLabel starts the
// summary line ("Log", "Cache", "dump").
Attachment Pack(const std::string* pData, bool bTerminate, std::size_t iSpare, const char* sLabel);

// The report body, ready for URL encoding.
std::string BuildBody(const Inputs& oInputs);

// The form sent to the error server: "error=" and the URL-encoded body.
std::string BuildForm(const std::string& sBody);

// Gathers everything, builds the body and posts it once. Best effort: every
// missing piece stays empty and nothing is logged.
void Send();

}  // namespace ErrorReport

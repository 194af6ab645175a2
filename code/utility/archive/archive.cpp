#include "code/utility/archive/archive.h"

#include <zlib.h>

#include <cstring>
#include <vector>

#include "code/utility/log/logsink.h"
#include "code/utility/text/asciitext.h"
#include "code/utility/text/textconv.h"

namespace PackageArchive {
namespace {
const char kFunction[] = "CZLib::UnZip";
const char kSource[] = "code/utility/zlibpp";
// The zlib version text the package format was made with.
const char kZlibVersion[] = "1.2.1";

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::uint32_t ReadLe32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void AppendLe32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Reads exactly n bytes; false when the archive ends first.
bool ReadExact(Source& source, void* pBuffer, std::size_t n) {
  std::size_t iDone = 0;
  auto* p = static_cast<unsigned char*>(pBuffer);
  while (iDone < n) {
    const std::size_t iGot = source.Read(p + iDone, n - iDone);
    if (iGot == 0) return false;
    iDone += iGot;
  }
  return true;
}

// The input and output blocks of one unpacking, reused for every member.
struct Buffers {
  std::vector<unsigned char> aIn = std::vector<unsigned char>(kChunkSize);
  std::vector<unsigned char> aOut = std::vector<unsigned char>(kChunkSize);
};

bool SkipBytes(Source& source, std::uint64_t n, Buffers& buffers) {
  while (n > 0) {
    const std::size_t iWant = n < kChunkSize ? static_cast<std::size_t>(n) : kChunkSize;
    const std::size_t iGot = source.Read(buffers.aIn.data(), iWant);
    if (iGot == 0) return false;
    n -= iGot;
  }
  return true;
}

bool IsDeviceName(const std::string& sSegment) {
  // Windows maps these names to devices in any folder and with any extension.
  std::string sBase = sSegment.substr(0, sSegment.find('.'));
  while (!sBase.empty() && sBase.back() == ' ') sBase.pop_back();
  for (char& c : sBase) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  static const char* const kNames[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* sName : kNames) {
    if (sBase == sName) return true;
  }
  if (sBase.compare(0, 3, "COM") != 0 && sBase.compare(0, 3, "LPT") != 0) return false;
  if (sBase.size() == 4) return sBase[3] >= '0' && sBase[3] <= '9';
  // Windows also takes the superscript digits one to three (UTF-8 C2 B9, C2 B2, C2 B3).
  return sBase.size() == 5 && sBase[3] == '\xC2' && (sBase[4] == '\xB9' || sBase[4] == '\xB2' || sBase[4] == '\xB3');
}

bool EndsWithTempSuffix(const std::string& sSegment) {
  const std::size_t n = sizeof(kTempSuffix) - 1;
  if (sSegment.size() < n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    if (Utility::ToLowerASCII(sSegment[sSegment.size() - n + i]) != kTempSuffix[i]) return false;
  }
  return true;
}

// Outcome of one member's data.
enum class MemberResult { kWritten, kStreamError, kWriteError, kTooMuch };

// Inflates lFileLength bytes of the archive into the sink's open file.
// pLastError receives the last inflate result. *pInflated counts the bytes
// of every member so far; nothing past iMaxInflated is written.
MemberResult InflateMember(Source& source, std::uint32_t lFileLength, Sink& sink, int* pLastError,
                           std::uint32_t* pConsumed, std::uint64_t* pInflated, std::uint64_t iMaxInflated,
                           Buffers& buffers) {
  unsigned char* aIn = buffers.aIn.data();
  unsigned char* aOut = buffers.aOut.data();
  z_stream stream;
  std::memset(&stream, 0, sizeof(stream));
  int iErr = inflateInit_(&stream, kZlibVersion, static_cast<int>(sizeof(z_stream)));
  *pConsumed = 0;
  if (iErr != Z_OK) {
    *pLastError = iErr;
    return MemberResult::kStreamError;
  }
  auto drain = [&](std::size_t iProduced) -> MemberResult {
    if (iProduced > iMaxInflated - *pInflated) return MemberResult::kTooMuch;
    *pInflated += iProduced;
    std::size_t iWritten = 0;
    while (iWritten < iProduced) {
      const std::size_t n = sink.WriteFile(aOut + iWritten, iProduced - iWritten);
      if (n == 0) return MemberResult::kWriteError;
      iWritten += n;
    }
    return MemberResult::kWritten;
  };

  MemberResult result = MemberResult::kWritten;
  for (;;) {
    if (stream.avail_in == 0) {
      const std::uint32_t iLeft = lFileLength - *pConsumed;
      if (iLeft == 0) break;
      const std::size_t iWant = iLeft < kChunkSize ? iLeft : kChunkSize;
      const std::size_t iGot = source.Read(aIn, iWant);
      if (iGot == 0) break;
      *pConsumed += static_cast<std::uint32_t>(iGot);
      stream.next_in = aIn;
      stream.avail_in = static_cast<uInt>(iGot);
    }
    stream.next_out = aOut;
    stream.avail_out = kChunkSize;
    iErr = inflate(&stream, Z_NO_FLUSH);
    result = drain(kChunkSize - stream.avail_out);
    if (result != MemberResult::kWritten || iErr != Z_OK) break;
  }
  if (result == MemberResult::kWritten) {
    do {
      stream.next_out = aOut;
      stream.avail_out = kChunkSize;
      iErr = inflate(&stream, Z_FINISH);
      result = drain(kChunkSize - stream.avail_out);
    } while (result == MemberResult::kWritten && iErr == Z_OK);
  }
  inflateEnd(&stream);
  *pLastError = iErr;
  if (result == MemberResult::kWritten && iErr != Z_OK && iErr != Z_STREAM_END) {
    result = MemberResult::kStreamError;
  }
  return result;
}

// Result of reading one record header.
enum class HeaderResult { kRecord, kEnd, kError };

HeaderResult ReadNameField(Source& source, std::string* pName) {
  unsigned char aLength[4];
  const std::size_t iGot = source.Read(aLength, sizeof(aLength));
  if (iGot == 0) return HeaderResult::kEnd;
  // A partial length field is a cut archive, not its end.
  if (iGot < sizeof(aLength) && !ReadExact(source, aLength + iGot, sizeof(aLength) - iGot)) {
    return HeaderResult::kError;
  }
  const std::uint32_t iNameLength = ReadLe32(aLength);
  if (iNameLength == 0 || iNameLength > kMaxNameLength) return HeaderResult::kError;
  char aName[kMaxNameLength];
  if (!ReadExact(source, aName, iNameLength)) return HeaderResult::kError;
  // The name ends at its NUL and never runs past its field.
  pName->assign(aName, strnlen(aName, iNameLength));
  return HeaderResult::kRecord;
}
}  // namespace

std::size_t FileSource::Read(void* pBuffer, std::size_t n) { return std::fread(pBuffer, 1, n, m_pFile); }

std::size_t MemorySource::Read(void* pBuffer, std::size_t n) {
  const std::size_t iLeft = m_iSize - m_iPos;
  if (n > iLeft) n = iLeft;
  if (n > 0) std::memcpy(pBuffer, m_pData + m_iPos, n);
  m_iPos += n;
  return n;
}

NameVerdict CheckMemberName(const std::string& sName) {
  if (sName.empty()) return NameVerdict::kEmpty;
  if (IsSeparator(sName[0])) return NameVerdict::kAbsolute;
  if (TextConv::WideToUtf8(TextConv::Utf8ToWide(sName)) != sName) return NameVerdict::kNotUtf8;
  std::size_t iStart = 0;
  for (;;) {
    std::size_t iEnd = iStart;
    while (iEnd < sName.size() && !IsSeparator(sName[iEnd])) ++iEnd;
    const std::string sSegment = sName.substr(iStart, iEnd - iStart);
    if (sSegment.empty()) return NameVerdict::kEmpty;
    for (char c : sSegment) {
      const auto u = static_cast<unsigned char>(c);
      if (c == ':') return NameVerdict::kColon;
      if (u < 0x20 || std::strchr("<>\"|?*", c) != nullptr) return NameVerdict::kBadCharacter;
    }
    // Windows drops trailing dots and blanks, so "..." or ". ." walk up too.
    if (sSegment.find_first_not_of(". ") == std::string::npos) return NameVerdict::kTraversal;
    if (IsDeviceName(sSegment)) return NameVerdict::kDeviceName;
    if (EndsWithTempSuffix(sSegment)) return NameVerdict::kReserved;
    if (iEnd == sName.size()) break;
    iStart = iEnd + 1;
  }
  return NameVerdict::kOk;
}

const char* DescribeVerdict(NameVerdict v) {
  switch (v) {
    case NameVerdict::kOk: return "ok";
    case NameVerdict::kEmpty: return "empty name or segment";
    case NameVerdict::kTraversal: return "leaves the destination";
    case NameVerdict::kAbsolute: return "absolute path";
    case NameVerdict::kColon: return "drive or stream name";
    case NameVerdict::kBadCharacter: return "invalid character";
    case NameVerdict::kDeviceName: return "device name";
    case NameVerdict::kReserved: return "reserved name";
    case NameVerdict::kNotUtf8: return "not UTF-8";
    case NameVerdict::kTooLong: return "path too long";
  }
  return "invalid";
}

std::string TargetPath(const std::string& sDestination, const std::string& sName) {
  std::string sTarget = sDestination;
  if (sTarget.empty() || sTarget.back() != '\\') sTarget += '\\';
  for (char c : sName) sTarget += (c == '/') ? '\\' : c;
  return sTarget;
}

namespace {
// What one unpacking has seen so far.
struct Counters {
  std::uint32_t iMembers = 0;
  std::uint32_t iFailed = 0;
  std::uint64_t iInflated = 0;
};

bool ExtractRecords(Source& source, const std::string& sDestination, Sink& sink, const Limits& limits,
                    Counters& counters) {
  Buffers buffers;
  // A failed member is listed (report and log) only up to the limit.
  auto fnListFailure = [&]() { return ++counters.iFailed <= limits.iMaxReportLines; };
  for (;;) {
    std::string sName;
    const HeaderResult header = ReadNameField(source, &sName);
    if (header == HeaderResult::kEnd) return true;
    if (header == HeaderResult::kError) {
      sink.LogLastError();
      QV_LOG(kFunction, 0, kSource, "fread error");
      return false;
    }
    if (++counters.iMembers > limits.iMaxMembers) {
      QV_LOG(kFunction, 0, kSource, "more than %u members, unpacking stopped",
             static_cast<unsigned>(limits.iMaxMembers));
      return false;
    }

    // The signature that leads a signed package is for the starter alone
    // (it was checked, or is not asked for, before the unpacking): it is
    // never written. Anywhere else the name is refused, so no member lands
    // on disk under it (Windows names ignore case).
    const bool bSignatureName = Utility::AsciiEqualNoCase(sName, kSignatureMember);
    if (bSignatureName && counters.iMembers == 1 && sName == kSignatureMember) {
      unsigned char aHeader[6];
      if (!ReadExact(source, aHeader, sizeof(aHeader)) || !SkipBytes(source, ReadLe32(aHeader), buffers)) {
        sink.LogLastError();
        QV_LOG(kFunction, 0, kSource, "fread error");
        return false;
      }
      continue;
    }

    const std::string sTarget = TargetPath(sDestination, sName);
    NameVerdict verdict = bSignatureName ? NameVerdict::kReserved : CheckMemberName(sName);
    // The member goes to a temporary name first: both must be usable paths.
    if (verdict == NameVerdict::kOk &&
        TextConv::Utf8ToWideBounded(sTarget + kTempSuffix, kMaxTargetChars).empty()) {
      verdict = NameVerdict::kTooLong;
    }
    bool bListed = false;
    if (verdict != NameVerdict::kOk) {
      bListed = fnListFailure();
      if (bListed) {
        QV_LOG(kFunction, 0, kSource, "unsafe member name (%s): %s, skip to the next one.", DescribeVerdict(verdict),
               sName.c_str());
      }
    }

    if (verdict == NameVerdict::kOk) {
      const std::size_t iSlash = sTarget.rfind('\\');
      if (iSlash != std::string::npos) {
        const std::string sFolder = sTarget.substr(0, iSlash);
        if (sFolder.size() != 0 && sFolder.size() != 2) {
          const int iResult = sink.CreateFolders(sFolder);
          if (iResult != 0 && iResult != 80 && iResult != 183) {
            sink.LogLastError();
            QV_LOG(kFunction, 0, kSource, "SHCreateDirectoryEx error: %s, error code = %d", sTarget.c_str(), iResult);
            return false;
          }
        }
      }
    }

    unsigned char aLength[4];
    if (!ReadExact(source, aLength, sizeof(aLength))) {
      sink.LogLastError();
      QV_LOG(kFunction, 0, kSource, "fread lFileLength error");
      return false;
    }
    const std::uint32_t lFileLength = ReadLe32(aLength);
    unsigned char aMask[2];
    if (!ReadExact(source, aMask, sizeof(aMask))) {
      sink.LogLastError();
      QV_LOG(kFunction, 0, kSource, "fread iFileMask error");
      return false;
    }

    if (verdict != NameVerdict::kOk || !sink.BeginFile(sTarget)) {
      if (verdict == NameVerdict::kOk) {
        bListed = fnListFailure();
        if (bListed) {
          sink.LogLastError();
          QV_LOG(kFunction, 0, kSource, "can't create file %s, skip to the next one.", sTarget.c_str());
        }
      }
      if (bListed) sink.ReportFailed(sTarget);
      if (!SkipBytes(source, lFileLength, buffers)) {
        sink.LogLastError();
        QV_LOG(kFunction, 0, kSource, "fread error");
        return false;
      }
      continue;
    }

    int iErr = Z_OK;
    std::uint32_t iConsumed = 0;
    const MemberResult result = InflateMember(source, lFileLength, sink, &iErr, &iConsumed, &counters.iInflated,
                                              limits.iMaxInflatedBytes, buffers);
    if (result == MemberResult::kTooMuch) {
      QV_LOG(kFunction, 0, kSource, "more than %llu inflated bytes, unpacking stopped",
             static_cast<unsigned long long>(limits.iMaxInflatedBytes));
      sink.DiscardFile();
      return false;
    }
    if (result == MemberResult::kWriteError) {
      sink.LogLastError();
      QV_LOG(kFunction, 0, kSource, "fwrite error");
      sink.DiscardFile();
      return false;
    }
    if (result == MemberResult::kStreamError) {
      sink.LogLastError();
      QV_LOG(kFunction, 0, kSource, "iErr != Z_OK && iErr != Z_STREAM_END");
      sink.DiscardFile();
      return false;
    }
    // Bytes after the end of the stream still belong to this member.
    if (iConsumed < lFileLength && !SkipBytes(source, lFileLength - iConsumed, buffers)) {
      sink.LogLastError();
      QV_LOG(kFunction, 0, kSource, "fread error");
      sink.DiscardFile();
      return false;
    }
    if (!sink.CommitFile() && fnListFailure()) {
      sink.LogLastError();
      QV_LOG(kFunction, 0, kSource, "can't create file %s, skip to the next one.", sTarget.c_str());
      sink.ReportFailed(sTarget);
    }
  }
}
}  // namespace

bool Extract(Source& source, const std::string& sDestination, Sink& sink, const Limits& limits) {
  Counters counters;
  const bool bComplete = ExtractRecords(source, sDestination, sink, limits, counters);
  if (counters.iFailed > limits.iMaxReportLines) {
    const std::uint32_t iRest = counters.iFailed - limits.iMaxReportLines;
    QV_LOG(kFunction, 0, kSource, "%u more members could not be written", static_cast<unsigned>(iRest));
    sink.ReportOmitted(iRest);
  }
  return bComplete;
}

bool ListRecords(Source& source, void (*pCallback)(const RecordInfo&, void*), void* pContext, std::string* pError) {
  Buffers buffers;
  for (;;) {
    RecordInfo info;
    const HeaderResult header = ReadNameField(source, &info.sName);
    if (header == HeaderResult::kEnd) return true;
    unsigned char aRest[6];
    if (header == HeaderResult::kError || !ReadExact(source, aRest, sizeof(aRest))) {
      if (pError) *pError = "damaged record header";
      return false;
    }
    info.iDataLength = ReadLe32(aRest);
    info.iFileMask = static_cast<std::uint16_t>(aRest[4] | (aRest[5] << 8));
    if (!SkipBytes(source, info.iDataLength, buffers)) {
      if (pError) *pError = "member data runs past the end of the archive";
      return false;
    }
    pCallback(info, pContext);
  }
}

std::string PackRecord(const std::string& sName, const std::string& sData, std::uint16_t iFileMask, int iLevel) {
  uLongf iBound = compressBound(static_cast<uLong>(sData.size()));
  std::vector<Bytef> aCompressed(iBound);
  if (compress2(aCompressed.data(), &iBound, reinterpret_cast<const Bytef*>(sData.data()),
                static_cast<uLong>(sData.size()), iLevel) != Z_OK) {
    return std::string();
  }
  std::string sRecord;
  AppendLe32(sRecord, static_cast<std::uint32_t>(sName.size() + 1));
  sRecord += sName;
  sRecord += '\0';
  AppendLe32(sRecord, static_cast<std::uint32_t>(iBound));
  sRecord += static_cast<char>(iFileMask & 0xFF);
  sRecord += static_cast<char>(iFileMask >> 8);
  sRecord.append(reinterpret_cast<const char*>(aCompressed.data()), iBound);
  return sRecord;
}

}  // namespace PackageArchive

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

namespace {
// What one unpacking has seen so far.
struct Counters {
  std::uint32_t iMembers = 0;
  std::uint32_t iFailed = 0;
  std::uint64_t iInflated = 0;
};

// One unpacking: where the records come from and where the members go, its
// bounds, and what it has seen.
struct Unpacking {
  Source& source;
  const std::string& sDestination;
  Sink& sink;
  const Limits& limits;
  Counters& counters;
  Buffers buffers;

  // Counts a member that could not be written; true while such members are
  // still listed one by one (report and log), false once past the limit.
  bool ListFailure() { return ++counters.iFailed <= limits.iMaxReportLines; }
};

// Skips the signature record that leads a signed package (its name is read
// already): it is for the starter alone and never written. False, logged,
// when the archive ends inside it.
bool SkipSignature(Unpacking& u) {
  unsigned char aHeader[6];
  if (!ReadExact(u.source, aHeader, sizeof(aHeader)) || !SkipBytes(u.source, ReadLe32(aHeader), u.buffers)) {
    u.sink.LogLastError();
    QV_LOG(kFunction, 0, kSource, "fread error");
    return false;
  }
  return true;
}

// The verdict on a member's name and its target path: the signature's name
// is reserved here (it may only lead the package), and the member's
// temporary name must be a usable path too.
NameVerdict JudgeMember(const std::string& sName, const std::string& sTarget, bool bSignatureName) {
  if (bSignatureName) return NameVerdict::kReserved;
  const NameVerdict verdict = CheckMemberName(sName);
  if (verdict == NameVerdict::kOk && TextConv::Utf8ToWideBounded(sTarget + kTempSuffix, kMaxTargetChars).empty()) {
    return NameVerdict::kTooLong;
  }
  return verdict;
}

// Creates the folders above a member's target. False, logged, when the sink
// cannot; that stops the unpacking.
bool CreateMemberFolder(Sink& sink, const std::string& sTarget) {
  const std::size_t iSlash = sTarget.rfind('\\');
  if (iSlash == std::string::npos) return true;
  const std::string sFolder = sTarget.substr(0, iSlash);
  // No folder to make for a bare drive ("C:") or the root.
  if (sFolder.size() == 0 || sFolder.size() == 2) return true;
  const int iResult = sink.CreateFolders(sFolder);
  if (iResult == 0 || iResult == 80 || iResult == 183) return true;
  sink.LogLastError();
  QV_LOG(kFunction, 0, kSource, "SHCreateDirectoryEx error: %s, error code = %d", sTarget.c_str(), iResult);
  return false;
}

// Reads the data length and the file mask that follow a member's name.
// False, logged, when the archive ends first.
bool ReadDataHeader(Unpacking& u, std::uint32_t* pDataLength) {
  unsigned char aLength[4];
  if (!ReadExact(u.source, aLength, sizeof(aLength))) {
    u.sink.LogLastError();
    QV_LOG(kFunction, 0, kSource, "fread lFileLength error");
    return false;
  }
  *pDataLength = ReadLe32(aLength);
  unsigned char aMask[2];
  if (!ReadExact(u.source, aMask, sizeof(aMask))) {
    u.sink.LogLastError();
    QV_LOG(kFunction, 0, kSource, "fread iFileMask error");
    return false;
  }
  return true;
}

// Inflates a member whose file the sink has begun, past the end of its
// stream to the end of its data, and commits it; a member the sink cannot
// commit is listed as failed. False, logged and the file discarded, when the
// unpacking has to stop: a limit passed, a write, the stream or the archive
// failed.
bool WriteMember(Unpacking& u, const std::string& sTarget, std::uint32_t lFileLength) {
  Sink& sink = u.sink;
  int iErr = Z_OK;
  std::uint32_t iConsumed = 0;
  const MemberResult result = InflateMember(u.source, lFileLength, sink, &iErr, &iConsumed, &u.counters.iInflated,
                                            u.limits.iMaxInflatedBytes, u.buffers);
  if (result == MemberResult::kTooMuch) {
    QV_LOG(kFunction, 0, kSource, "more than %llu inflated bytes, unpacking stopped",
           static_cast<unsigned long long>(u.limits.iMaxInflatedBytes));
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
  if (iConsumed < lFileLength && !SkipBytes(u.source, lFileLength - iConsumed, u.buffers)) {
    sink.LogLastError();
    QV_LOG(kFunction, 0, kSource, "fread error");
    sink.DiscardFile();
    return false;
  }
  if (!sink.CommitFile() && u.ListFailure()) {
    sink.LogLastError();
    QV_LOG(kFunction, 0, kSource, "can't create file %s, skip to the next one.", sTarget.c_str());
    sink.ReportFailed(sTarget);
  }
  return true;
}

// Handles one member whose name is read: refused (listed, its data skipped),
// not writable (the same), or written. False when the unpacking has to stop
// (logged).
bool ExtractMember(Unpacking& u, const std::string& sName, bool bSignatureName) {
  Sink& sink = u.sink;
  const std::string sTarget = TargetPath(u.sDestination, sName);
  const NameVerdict verdict = JudgeMember(sName, sTarget, bSignatureName);
  bool bListed = false;
  if (verdict != NameVerdict::kOk) {
    bListed = u.ListFailure();
    if (bListed) {
      QV_LOG(kFunction, 0, kSource, "unsafe member name (%s): %s, skip to the next one.", DescribeVerdict(verdict),
             sName.c_str());
    }
  } else if (!CreateMemberFolder(sink, sTarget)) {
    return false;
  }

  std::uint32_t lFileLength = 0;
  if (!ReadDataHeader(u, &lFileLength)) return false;
  if (verdict == NameVerdict::kOk && sink.BeginFile(sTarget)) return WriteMember(u, sTarget, lFileLength);

  if (verdict == NameVerdict::kOk) {
    bListed = u.ListFailure();
    if (bListed) {
      sink.LogLastError();
      QV_LOG(kFunction, 0, kSource, "can't create file %s, skip to the next one.", sTarget.c_str());
    }
  }
  if (bListed) sink.ReportFailed(sTarget);
  if (!SkipBytes(u.source, lFileLength, u.buffers)) {
    sink.LogLastError();
    QV_LOG(kFunction, 0, kSource, "fread error");
    return false;
  }
  return true;
}

// Reads record after record until the archive ends (true) or the unpacking
// has to stop (false, logged).
bool ExtractRecords(Unpacking& u) {
  for (;;) {
    std::string sName;
    const HeaderResult header = ReadNameField(u.source, &sName);
    if (header == HeaderResult::kEnd) return true;
    if (header == HeaderResult::kError) {
      u.sink.LogLastError();
      QV_LOG(kFunction, 0, kSource, "fread error");
      return false;
    }
    if (++u.counters.iMembers > u.limits.iMaxMembers) {
      QV_LOG(kFunction, 0, kSource, "more than %u members, unpacking stopped",
             static_cast<unsigned>(u.limits.iMaxMembers));
      return false;
    }
    // The signature that leads a signed package is for the starter alone
    // (it was checked, or is not asked for, before the unpacking): it is
    // never written. Anywhere else the name is refused, so no member lands
    // on disk under it (Windows names ignore case).
    const bool bSignatureName = Utility::AsciiEqualNoCase(sName, kSignatureMember);
    if (bSignatureName && u.counters.iMembers == 1 && sName == kSignatureMember) {
      if (!SkipSignature(u)) return false;
    } else if (!ExtractMember(u, sName, bSignatureName)) {
      return false;
    }
  }
}
}  // namespace

bool Extract(Source& source, const std::string& sDestination, Sink& sink, const Limits& limits) {
  Counters counters;
  Unpacking unpacking{source, sDestination, sink, limits, counters, Buffers()};
  const bool bComplete = ExtractRecords(unpacking);
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

#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "code/utility/archive/membername.h"

// The client package archive: a plain run of member records, no header, no
// index. Each record is
//   name length (u32 LE, counts the NUL) | name (UTF-8, "\\" separated, NUL)
//   | data length (u32 LE) | file mask (u16 LE, not interpreted) | data
// where data is one complete zlib stream holding the member's contents.
//
// Reading and inflating live here so they can be tested and fuzzed off
// Windows; the file system is reached only through a Sink.
namespace PackageArchive {

constexpr std::size_t kChunkSize = 256 * 1024;   // input and output buffers, one each per unpacking
constexpr std::uint32_t kMaxNameLength = 512;    // name field bound, NUL included
// Reserved for the publisher's signature, which leads a signed package; the
// unpacking never writes a member of this name (see PackageSignature).
constexpr char kSignatureMember[] = ".qvsignature";

// Bounds of one unpacking, so that a package cannot fill the disk or the
// failure report: the inflated bytes of all members together, the members
// (refused ones included), and the members listed one by one in the report
// and the log (the rest are only counted).
constexpr std::uint64_t kMaxInflatedBytes = 8ULL * 1024 * 1024 * 1024;
constexpr std::uint32_t kMaxMembers = 100000;
constexpr std::uint32_t kMaxReportLines = 1000;

struct Limits {
  std::uint64_t iMaxInflatedBytes = kMaxInflatedBytes;
  std::uint32_t iMaxMembers = kMaxMembers;
  std::uint32_t iMaxReportLines = kMaxReportLines;
};

// Where the archive bytes come from.
class Source {
 public:
  virtual ~Source() = default;
  // Up to n bytes; fewer only at the end of the data or on a read error.
  virtual std::size_t Read(void* pBuffer, std::size_t n) = 0;
};

class FileSource : public Source {
 public:
  explicit FileSource(std::FILE* pFile) : m_pFile(pFile) {}
  std::size_t Read(void* pBuffer, std::size_t n) override;

 private:
  std::FILE* m_pFile;
};

class MemorySource : public Source {
 public:
  MemorySource(const void* pData, std::size_t n) : m_pData(static_cast<const unsigned char*>(pData)), m_iSize(n) {}
  std::size_t Read(void* pBuffer, std::size_t n) override;

 private:
  const unsigned char* m_pData;
  std::size_t m_iSize;
  std::size_t m_iPos = 0;
};

// Where the members go. Target paths are Windows paths ("\\" separated)
// that have passed CheckMemberName; a sink for another file system maps them.
class Sink {
 public:
  virtual ~Sink() = default;
  // Creates a folder with all missing parents: 0, or a system error number
  // (80 and 183, "already exists", count as success).
  virtual int CreateFolders(const std::string& sFolder) = 0;
  // Starts a member: opens target + kTempSuffix for writing. False when the
  // member cannot be written (the target is held open, the folder refuses...).
  virtual bool BeginFile(const std::string& sTarget) = 0;
  // Bytes stored (0 means the write failed).
  virtual std::size_t WriteFile(const void* pData, std::size_t n) = 0;
  // The member is complete: the temporary file replaces the target.
  virtual bool CommitFile() = 0;
  // The member is damaged: the temporary file is removed, the target left as it was.
  virtual void DiscardFile() = 0;
  // A member that could not be written, for the failure report.
  virtual void ReportFailed(const std::string& sTarget) = 0;
  // Members that could not be written beyond the listed ones, once at the end.
  virtual void ReportOmitted(std::uint32_t iCount) {}
  // Called before each error line: logs the system's last error where
  // there is one.
  virtual void LogLastError() {}
};

// Unpacks every member under sDestination. True when the whole archive was
// read; members that could not be written (listed through ReportFailed) do
// not make it false. An archive that passes a limit stops the unpacking
// (false) before anything beyond it is written. A leading package signature
// member (kSignatureMember) is skipped, never written; that
// name anywhere else is refused. Logs as "CZLib::UnZip".
bool Extract(Source& source, const std::string& sDestination, Sink& sink, const Limits& limits = Limits());

// One record of the archive, as its header reads.
struct RecordInfo {
  std::string sName;
  std::uint32_t iDataLength;
  std::uint16_t iFileMask;
};

// Walks the record headers without inflating. False on a damaged header;
// pCallback is called for every member read so far.
bool ListRecords(Source& source, void (*pCallback)(const RecordInfo&, void*), void* pContext, std::string* pError);

// Builds one record: the name, and data compressed as one zlib stream.
std::string PackRecord(const std::string& sName, const std::string& sData, std::uint16_t iFileMask = 0,
                       int iLevel = 6);

}  // namespace PackageArchive

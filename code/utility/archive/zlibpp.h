#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "code/utility/archive/archive.h"
#include "code/utility/system/scopedhandle.h"

// Unpacks a client package archive (see archive.h) under a destination
// folder, lists the members it could not write in a report that it opens for
// the user, and deletes the archive after a complete pass.
class CZLib {
 public:
  // Shows the failure report; the default opens it with the shell.
  using ReportOpener = void (*)(const std::wstring& sReportPath);
  // Free bytes of the drive that holds sFolder; false when unknown. The
  // default asks the system.
  using FreeSpaceProbe = bool (*)(const std::wstring& sFolder, std::uint64_t* pFree);

  // The unpacking stops rather than leave the destination drive with less
  // free space than this; the free space is measured again at least every
  // kFreeSpaceCheckBytes written.
  static constexpr std::uint64_t kMinFreeBytes = 256ULL * 1024 * 1024;
  static constexpr std::uint64_t kFreeSpaceCheckBytes = 64ULL * 1024 * 1024;

  CZLib();
  ~CZLib();
  CZLib(const CZLib&) = delete;
  CZLib& operator=(const CZLib&) = delete;

  // True when the whole archive was read; members that could not be written
  // do not make it false. An archive that passes a limit (archive.h, or the
  // free space above) counts as not read whole.
  bool UnZip(const char* sArchive, const char* sDestination);

  void SetLimits(const PackageArchive::Limits& limits) { m_oLimits = limits; }
  void SetFreeSpaceProbe(FreeSpaceProbe pProbe) { m_pFreeSpaceProbe = pProbe; }

  // Names a member (as the archive names it) whose fate the caller needs:
  // after UnZip, WatchedMemberWritten tells whether this pass wrote it, with
  // no failure for the same target.
  void WatchMember(const char* sName) { m_sWatchedMember = sName ? sName : ""; }
  bool WatchedMemberWritten() const { return m_eWatched == WatchState::kWritten; }

  // Path of the failure report of the last call ("%sQV%d.txt" in the
  // temporary folder), whether or not it was written.
  const std::string& GetReportPath() const { return m_sReportPath; }
  void SetReportOpener(ReportOpener pOpener) { m_pReportOpener = pOpener; }

 private:
  class FileSink;
  enum class WatchState { kNotSeen, kWritten, kFailed };

  ScopedStdioFile m_pOutFile;     // member being written
  ScopedStdioFile m_pInFile;      // archive being read
  ScopedStdioFile m_pReportFile;  // failure report
  std::string m_sReportPath;
  ReportOpener m_pReportOpener;
  FreeSpaceProbe m_pFreeSpaceProbe;
  PackageArchive::Limits m_oLimits;
  std::string m_sWatchedMember;
  WatchState m_eWatched = WatchState::kNotSeen;
};

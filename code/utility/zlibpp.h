#pragma once
#include <cstdio>
#include <string>

// Unpacks a client package archive (see archive.h) under a destination
// folder, lists the members it could not write in a report that it opens for
// the user, and deletes the archive after a complete pass.
class CZLib {
 public:
  // Shows the failure report; the default opens it with the shell.
  using ReportOpener = void (*)(const std::wstring& sReportPath);

  CZLib();
  ~CZLib();
  CZLib(const CZLib&) = delete;
  CZLib& operator=(const CZLib&) = delete;

  // True when the whole archive was read; members that could not be written
  // do not make it false.
  bool UnZip(const char* sArchive, const char* sDestination);

  // Path of the failure report of the last call ("%sQV%d.txt" in the
  // temporary folder), whether or not it was written.
  const std::string& GetReportPath() const { return m_sReportPath; }
  void SetReportOpener(ReportOpener pOpener) { m_pReportOpener = pOpener; }

 private:
  class FileSink;

  std::FILE* m_pOutFile;     // member being written
  std::FILE* m_pInFile;      // archive being read
  std::FILE* m_pReportFile;  // failure report
  std::string m_sReportPath;
  ReportOpener m_pReportOpener;
};

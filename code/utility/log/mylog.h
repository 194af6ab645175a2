#pragma once
#include <cstddef>
#include <string>

#include "code/utility/log/logsink.h"
#include "code/utility/text/limits.h"

// The run log: one text file in the user's temporary folder that every part
// of the starter appends entries to, with the two previous runs kept as
// ".bak" and ".bak.bak". The file is opened and closed for every entry, so
// another process can read or copy it at any time.

// Entry layout and the size rule, kept apart from the file handling.
namespace MyLogFormat {
struct LocalTime {
  int iYear, iMonth, iDay, iHour, iMinute, iSecond;
};

constexpr int kInitialMaxSize = 102400;
constexpr int kMaxSize = 1024000;

// "YYYY-MM-DD hh:mm:ss\nFunction: <name>\nLine: <n>\nMessage: "
std::string EntryHeader(const LocalTime& oTime, const char* sFunction, int iLine);
// The file rotates before a write when what is on disk plus the new header
// would exceed the maximum (strictly greater).
bool ShouldRotate(long long iCurrentSize, std::size_t iHeaderLength, int iMaxSize);
// Paths of the log and its two backups, or false when one of them would not
// fit a path buffer.
bool BuildPaths(const std::string& sDirectory, const std::string& sFileName, std::string* pLogFile,
                std::string* pBackup, std::string* pBackup2);
}  // namespace MyLogFormat

class MyLog {
 public:
  // Creates the one log of the process. False when it already exists; true
  // also when the object could not be allocated (GetInstance then gives null).
  static bool CreateInstance(const char* sInstanceName);
  static MyLog* GetInstance();
  // Full path of the log file once Initialize succeeded, else "".
  static const char* GetLogFilePath();

  // The bare file name (such as "QVSetup.txt"); set before Initialize.
  bool SetFileName(const char* sFileName);
  // Chooses the folder (temporary folder unless set), rotates the files of
  // earlier runs, creates an empty log file and routes QV_LOG entries here.
  bool Initialize();
  // Tests and tools may place the log elsewhere; set before Initialize.
  bool SetDirectory(const char* sDirectory);

  void Write(const char* sFunction, int iSeverity, const char* sSource, int iLine, const char* sFormat, ...)
      QV_PRINTF_FORMAT(6, 7);

  const char* GetFilePath() const { return m_sLogFilePath; }
  const char* GetInstanceName() const { return m_sInstanceName; }
  int GetMaxSize() const { return m_iMaxSize; }
  // Only for tests of the size rule.
  void SetMaxSize(int iMaxSize) { m_iMaxSize = iMaxSize; }

 private:
  explicit MyLog(const char* sInstanceName);
  MyLog(const MyLog&) = delete;
  MyLog& operator=(const MyLog&) = delete;

  void WriteEntry(const char* sFunction, int iLine, const char* sMessage);
  void Rotate();
  static void SinkWriter(const char* sFunction, int iSeverity, const char* sSource, int iLine,
                         const char* sMessage);

  struct Lock;
  Lock* m_pLock;
  char m_sDirectory[Limits::kPath];
  char m_sLogFilePath[Limits::kPath];
  char m_sBackupPath[Limits::kPath];
  char m_sBackupPath2[Limits::kPath];
  char m_sInstanceName[Limits::kPath];
  std::wstring m_wsLogFilePath;
  std::wstring m_wsBackupPath;
  std::wstring m_wsBackupPath2;
  int m_iCurrentSize;
  int m_iMaxSize;
};

// The process-wide log pointer, set by start-up from MyLog::GetInstance.
extern MyLog* g_pMyLog;

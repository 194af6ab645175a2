#include <windows.h>

#include <io.h>

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "code/utility/log/logsink.h"
#include "code/utility/log/mylog.h"
#include "code/utility/system/scopedhandle_win.h"
#include "code/utility/text/boundedtext.h"
#include "code/utility/text/textconv.h"

MyLog* g_pMyLog = nullptr;

namespace {
MyLog* g_pInstance = nullptr;
// Read by the error report to find the log; written once, before any other
// thread exists.
char g_sLogFilePath[Limits::kPath] = "";

bool Exists(const std::wstring& wsPath) {
  return !wsPath.empty() && GetFileAttributesW(wsPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}
}  // namespace

struct MyLog::Lock {
  CRITICAL_SECTION oSection;
  Lock() { InitializeCriticalSection(&oSection); }
};

namespace {
class LockHolder {
 public:
  explicit LockHolder(CRITICAL_SECTION* p) : m_p(p) { EnterCriticalSection(m_p); }
  ~LockHolder() { LeaveCriticalSection(m_p); }
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;

 private:
  CRITICAL_SECTION* m_p;
};
}  // namespace

MyLog::MyLog(const char* sInstanceName)
    : m_pLock(new Lock), m_iCurrentSize(0), m_iMaxSize(MyLogFormat::kInitialMaxSize) {
  m_sInstanceName[0] = m_sDirectory[0] = m_sLogFilePath[0] = m_sBackupPath[0] = m_sBackupPath2[0] = '\0';
  if (sInstanceName) Utility::CopyIfFits(m_sInstanceName, sizeof(m_sInstanceName), sInstanceName);
}

bool MyLog::CreateInstance(const char* sInstanceName) {
  if (g_pInstance != nullptr) return false;
  try {
    g_pInstance = new MyLog(sInstanceName);
  } catch (...) {
    g_pInstance = nullptr;  // start-up sees the null instance
  }
  return true;
}

MyLog* MyLog::GetInstance() { return g_pInstance; }

const char* MyLog::GetLogFilePath() { return g_sLogFilePath; }

bool MyLog::SetFileName(const char* sFileName) {
  return sFileName && sFileName[0] && Utility::CopyIfFits(m_sLogFilePath, sizeof(m_sLogFilePath), sFileName);
}

bool MyLog::SetDirectory(const char* sDirectory) {
  return sDirectory && Utility::CopyIfFits(m_sDirectory, sizeof(m_sDirectory), sDirectory);
}

bool MyLog::Initialize() {
  if (m_sDirectory[0] == '\0') {
    wchar_t wsTemp[Limits::kPath] = {0};
    const DWORD n = GetTempPathW(Limits::kPath, wsTemp);
    if (n > 0 && n < Limits::kPath) {
      // Stays empty when the UTF-8 form does not fit: the log then goes to
      // the current folder.
      Utility::CopyIfFits(m_sDirectory, sizeof(m_sDirectory), TextConv::WideToUtf8Bounded(wsTemp, Limits::kPath).c_str());
    }
  }
  m_iMaxSize = MyLogFormat::kMaxSize;

  const std::string sFileName = m_sLogFilePath;
  std::string sLog, sBackup, sBackup2;
  if (!MyLogFormat::BuildPaths(m_sDirectory, sFileName, &sLog, &sBackup, &sBackup2)) {
    // Folder and name together too long: fall back to the current folder.
    m_sDirectory[0] = '\0';
    if (!MyLogFormat::BuildPaths("", sFileName, &sLog, &sBackup, &sBackup2)) return false;
  }
  Utility::CopyIfFits(m_sLogFilePath, sizeof(m_sLogFilePath), sLog.c_str());
  Utility::CopyIfFits(m_sBackupPath, sizeof(m_sBackupPath), sBackup.c_str());
  Utility::CopyIfFits(m_sBackupPath2, sizeof(m_sBackupPath2), sBackup2.c_str());
  Utility::CopyIfFits(g_sLogFilePath, sizeof(g_sLogFilePath), m_sLogFilePath);
  m_wsLogFilePath = TextConv::Utf8ToWideBounded(sLog, Limits::kPath);
  m_wsBackupPath = TextConv::Utf8ToWideBounded(sBackup, Limits::kPath);
  m_wsBackupPath2 = TextConv::Utf8ToWideBounded(sBackup2, Limits::kPath);
  if (m_wsLogFilePath.empty()) return false;

  Rotate();
  if (!ScopedStdioFile(_wfopen(m_wsLogFilePath.c_str(), L"w"))) return false;
  m_iCurrentSize = 0;
  LogSink::SetWriter(&MyLog::SinkWriter);
  return true;
}

void MyLog::Rotate() {
  // Copy failures are ignored: losing an old run's log must not stop this one.
  if (Exists(m_wsBackupPath) && !m_wsBackupPath2.empty())
    CopyFileW(m_wsBackupPath.c_str(), m_wsBackupPath2.c_str(), FALSE);
  if (Exists(m_wsLogFilePath) && !m_wsBackupPath.empty())
    CopyFileW(m_wsLogFilePath.c_str(), m_wsBackupPath.c_str(), FALSE);
}

void MyLog::Write(const char* sFunction, int iSeverity, const char* sSource, int iLine, const char* sFormat, ...) {
  if (sFormat == nullptr) return;
  try {
    va_list args;
    va_start(args, sFormat);
    const std::string sMessage = LogSink::FormatV(sFormat, args);
    va_end(args);
    WriteEntry(sFunction, iLine, sMessage.c_str());
  } catch (...) {
    // A log entry that cannot be built is dropped; the caller goes on.
  }
}

void MyLog::SinkWriter(const char* sFunction, int, const char*, int iLine, const char* sMessage) {
  MyLog* pLog = g_pInstance;
  if (pLog == nullptr) return;
  try {
    pLog->WriteEntry(sFunction, iLine, sMessage);
  } catch (...) {
  }
}

void MyLog::WriteEntry(const char* sFunction, int iLine, const char* sMessage) {
  if (m_wsLogFilePath.empty()) return;  // not initialised
  LockHolder oHold(&m_pLock->oSection);
  // Text mode: each line feed lands on disk as CR LF.
  ScopedStdioFile oFile(_wfopen(m_wsLogFilePath.c_str(), L"at"));
  if (!oFile) return;
  const long long iOnDisk = _filelengthi64(_fileno(oFile.Get()));
  m_iCurrentSize = iOnDisk < 0 ? 0 : (iOnDisk > INT_MAX ? INT_MAX : static_cast<int>(iOnDisk));

  SYSTEMTIME st;
  GetLocalTime(&st);
  const MyLogFormat::LocalTime oTime = {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
  const std::string sHeader = MyLogFormat::EntryHeader(oTime, sFunction, iLine);

  if (MyLogFormat::ShouldRotate(m_iCurrentSize, sHeader.size(), m_iMaxSize)) {
    oFile.Reset();
    Rotate();
    m_iCurrentSize = 0;
    oFile.Reset(_wfopen(m_wsLogFilePath.c_str(), L"wt"));
    if (!oFile) return;
  }
  const long long iNewSize = static_cast<long long>(m_iCurrentSize) + static_cast<long long>(sHeader.size());
  m_iCurrentSize = iNewSize > INT_MAX ? INT_MAX : static_cast<int>(iNewSize);

  FILE* pFile = oFile.Get();
  std::fwrite(sHeader.data(), 1, sHeader.size(), pFile);
  if (sMessage) std::fwrite(sMessage, 1, std::strlen(sMessage), pFile);
  std::fwrite("\n\n", 1, 2, pFile);
  std::fflush(pFile);
}

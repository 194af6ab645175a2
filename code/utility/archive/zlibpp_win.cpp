#include "code/utility/archive/zlibpp.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <set>
#include <vector>

#include "code/utility/archive/archive.h"
#include "code/utility/log/logsink.h"
#include "code/utility/log/sockerror.h"
#include "code/utility/text/asciitext.h"
#include "code/utility/text/limits.h"
#include "code/utility/text/textconv.h"

namespace {
const char kFunction[] = "CZLib::UnZip";
const char kSource[] = "code/utility/zlibpp";
constexpr std::size_t kStreamBuffer = 256 * 1024;

std::wstring WidePath(const std::string& sPath) {
  return TextConv::Utf8ToWideBounded(sPath, PackageArchive::kMaxTargetChars);
}

// Creates the failure report "<temp>QV<seconds>.txt" in text mode. A report
// of an unpacking in the same second (the accessory package, or another
// starter: the temporary folder is shared) may still be open in the user's
// editor: take the next free number instead of replacing it. The file is
// made only when no file of the name exists (one step, so two unpackings
// never share a report).
std::FILE* CreateReport(std::string& sPath) {
  for (int i = 0; i < 100; ++i) {
    const std::wstring wPath = TextConv::Utf8ToWide(sPath);
    HANDLE hFile = wPath.empty() ? INVALID_HANDLE_VALUE
                                 : CreateFileW(wPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                               nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile != INVALID_HANDLE_VALUE) {
      const int iFd = _open_osfhandle(reinterpret_cast<intptr_t>(hFile), _O_WRONLY | _O_TEXT);
      if (iFd == -1) {
        CloseHandle(hFile);
        return nullptr;
      }
      std::FILE* pFile = _fdopen(iFd, "w");
      if (pFile == nullptr) _close(iFd);
      return pFile;
    }
    const DWORD iError = GetLastError();
    if (iError != ERROR_FILE_EXISTS && iError != ERROR_ALREADY_EXISTS) return nullptr;
    const std::size_t iDigits = sPath.rfind("QV") + 2;
    const long long iNext = Utility::ReadDecimal(sPath.c_str() + iDigits, sPath.size() - iDigits).iValue + 1;
    sPath = sPath.substr(0, iDigits) + std::to_string(static_cast<std::int32_t>(iNext)) + ".txt";
  }
  return nullptr;
}

// Read before anything else can change it.
void LogErrorCode() {
  const int iError = static_cast<int>(GetLastError());
  QV_LOG("CCZLib::UnZip", 0, kSource, "Error code: %d, error: %s", iError, GetSocketErrorText(iError));
}

void OpenWithShell(const std::wstring& sReportPath) {
  ShellExecuteW(nullptr, L"Open", sReportPath.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

// Makes wFolder and every missing parent: 0, ERROR_ALREADY_EXISTS when the
// folder was there, or the system error of the step that failed. Walks up
// to the nearest folder that exists, then makes the rest top down (no
// recursion: a long path has thousands of parts).
int MakeFolderChain(const std::wstring& wFolder) {
  std::vector<std::size_t> aMissing;  // lengths of the prefixes still to make
  std::size_t iLength = wFolder.size();
  for (;;) {
    if (CreateDirectoryW(wFolder.substr(0, iLength).c_str(), nullptr)) break;
    const DWORD iError = GetLastError();
    if (iError == ERROR_ALREADY_EXISTS && aMissing.empty()) return ERROR_ALREADY_EXISTS;
    if (iError == ERROR_ALREADY_EXISTS) break;
    const std::size_t iSlash = wFolder.find_last_of(L"\\/", iLength - 1);
    if (iError != ERROR_PATH_NOT_FOUND || iSlash == std::wstring::npos || iSlash == 0) return static_cast<int>(iError);
    aMissing.push_back(iLength);
    iLength = iSlash;
  }
  for (auto it = aMissing.rbegin(); it != aMissing.rend(); ++it) {
    if (!CreateDirectoryW(wFolder.substr(0, *it).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
      return static_cast<int>(GetLastError());
  }
  return ERROR_SUCCESS;
}

bool SystemFreeSpace(const std::wstring& sFolder, std::uint64_t* pFree) {
  ULARGE_INTEGER iAvailable;
  if (!GetDiskFreeSpaceExW(sFolder.c_str(), &iAvailable, nullptr, nullptr)) return false;
  *pFree = iAvailable.QuadPart;
  return true;
}
}  // namespace

// Writes members through the C run-time streams of the CZLib object: each
// member goes to a temporary name beside its target and replaces the target
// only when its stream was complete.
class CZLib::FileSink : public PackageArchive::Sink {
 public:
  FileSink(CZLib& owner, const std::string& sDestination)
      : m_oOwner(owner), m_sDestination(sDestination), m_wDestination(WidePath(sDestination)) {
    if (!owner.m_sWatchedMember.empty()) {
      m_wWatched = WidePath(PackageArchive::TargetPath(sDestination, owner.m_sWatchedMember));
    }
  }

  // Members mostly go to a folder made for an earlier member: that costs
  // nothing. Other folders are made here with CreateDirectoryW, missing
  // parents first; the shell's call would announce each new folder to the
  // shell, which costs milliseconds per folder.
  int CreateFolders(const std::string& sFolder) override {
    const std::wstring wFolder = WidePath(sFolder);
    if (wFolder.empty()) return ERROR_FILENAME_EXCED_RANGE;
    if (m_aMadeFolders.count(wFolder) != 0) return ERROR_ALREADY_EXISTS;
    const int iResult = MakeFolderChain(wFolder);
    const DWORD iAttributes = GetFileAttributesW(wFolder.c_str());
    if (iAttributes != INVALID_FILE_ATTRIBUTES && (iAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
      m_aMadeFolders.insert(wFolder);
    return iResult;
  }

  bool BeginFile(const std::string& sTarget) override {
    m_wTarget = WidePath(sTarget);
    m_wTemp = WidePath(sTarget + PackageArchive::kTempSuffix);
    m_bWatched = !m_wWatched.empty() && _wcsicmp(m_wTarget.c_str(), m_wWatched.c_str()) == 0;
    if (!OpenTemp()) {
      if (m_bWatched) m_oOwner.m_eWatched = WatchState::kFailed;
      return false;
    }
    return true;
  }

  std::size_t WriteFile(const void* pData, std::size_t n) override {
    if (!HasRoomFor(n)) return 0;
    return fwrite(pData, 1, n, m_oOwner.m_pOutFile.Get());
  }

  bool CommitFile() override {
    const bool bClosed = fclose(m_oOwner.m_pOutFile.Release()) == 0;
    if (bClosed && MoveFileExW(m_wTemp.c_str(), m_wTarget.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      if (m_bWatched && m_oOwner.m_eWatched != WatchState::kFailed) m_oOwner.m_eWatched = WatchState::kWritten;
      return true;
    }
    DeleteFileW(m_wTemp.c_str());
    if (m_bWatched) m_oOwner.m_eWatched = WatchState::kFailed;
    return false;
  }

  void DiscardFile() override {
    m_oOwner.m_pOutFile.Reset();
    DeleteFileW(m_wTemp.c_str());
    if (m_bWatched) m_oOwner.m_eWatched = WatchState::kFailed;
  }

  void LogLastError() override { LogErrorCode(); }

  void ReportFailed(const std::string& sTarget) override {
    if (!OpenReport()) return;
    // UTF-8, so that every name survives whatever the user's code page is.
    fprintf(m_oOwner.m_pReportFile.Get(), "%s\n", sTarget.c_str());
    fflush(m_oOwner.m_pReportFile.Get());
  }

  void ReportOmitted(std::uint32_t iCount) override {
    if (!OpenReport()) return;
    fprintf(m_oOwner.m_pReportFile.Get(), "%u more files failed to copy to the destination.\n",
            static_cast<unsigned>(iCount));
    fflush(m_oOwner.m_pReportFile.Get());
  }

 private:
  bool OpenTemp() {
    if (m_wTarget.empty() || m_wTemp.empty()) return false;
    // A target held open without write sharing (a running program) cannot
    // be replaced: find out before inflating it.
    if (GetFileAttributesW(m_wTarget.c_str()) != INVALID_FILE_ATTRIBUTES) {
      HANDLE hProbe = CreateFileW(m_wTarget.c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
      if (hProbe == INVALID_HANDLE_VALUE) return false;
      CloseHandle(hProbe);
    }
    m_oOwner.m_pOutFile.Reset(_wfopen(m_wTemp.c_str(), L"wb"));
    if (!m_oOwner.m_pOutFile) return false;
    setvbuf(m_oOwner.m_pOutFile.Get(), m_aBuffer.data(), _IOFBF, m_aBuffer.size());
    return true;
  }

  // Whether n more bytes leave the drive at least kMinFreeBytes. The free
  // space is measured when the bytes allowed by the last measurement are
  // used up, at most kFreeSpaceCheckBytes after it.
  bool HasRoomFor(std::size_t n) {
    if (n <= m_iAllowed) {
      m_iAllowed -= n;
      return true;
    }
    // Buffered bytes must show in the measurement.
    fflush(m_oOwner.m_pOutFile.Get());
    std::uint64_t iFree = 0;
    if (!m_oOwner.m_pFreeSpaceProbe(m_wDestination, &iFree)) {
      // Nothing to judge by: go on as a system without the call would.
      if (!m_bProbeFailed) {
        m_bProbeFailed = true;
        QV_LOG(kFunction, 0, kSource, "can't read the free space of %s, error code: %lu", m_sDestination.c_str(),
               GetLastError());
      }
      m_iAllowed = kFreeSpaceCheckBytes;
    } else {
      m_iAllowed = iFree > kMinFreeBytes ? iFree - kMinFreeBytes : 0;
      if (m_iAllowed > kFreeSpaceCheckBytes) m_iAllowed = kFreeSpaceCheckBytes;
    }
    if (n > m_iAllowed) {
      QV_LOG(kFunction, 0, kSource, "free space of %s would fall below %llu bytes, unpacking stopped",
             m_sDestination.c_str(), static_cast<unsigned long long>(kMinFreeBytes));
      m_iAllowed = 0;
      return false;
    }
    m_iAllowed -= n;
    return true;
  }

  bool OpenReport() {
    if (m_oOwner.m_pReportFile) return true;
    m_oOwner.m_pReportFile.Reset(CreateReport(m_oOwner.m_sReportPath));
    if (!m_oOwner.m_pReportFile) {
      QV_LOG(kFunction, 0, kSource, "can't create %s", m_oOwner.m_sReportPath.c_str());
      return false;
    }
    fputs("The following files failed to copy to the destination:\n\n", m_oOwner.m_pReportFile.Get());
    return true;
  }

  CZLib& m_oOwner;
  const std::string m_sDestination;
  const std::wstring m_wDestination;
  // One stream buffer for every member; each file is closed before the sink goes.
  std::vector<char> m_aBuffer = std::vector<char>(kStreamBuffer);
  std::set<std::wstring> m_aMadeFolders;  // folders known to be there, as CreateFolders was given them
  std::wstring m_wTarget;
  std::wstring m_wTemp;
  std::wstring m_wWatched;  // target path of the watched member, or empty
  bool m_bWatched = false;  // the current member is the watched one
  std::uint64_t m_iAllowed = 0;  // bytes that may still be written before the next measurement
  bool m_bProbeFailed = false;
};

CZLib::CZLib() : m_pReportOpener(&OpenWithShell), m_pFreeSpaceProbe(&SystemFreeSpace) {}

// The member is closed before the archive, the archive before the report.
CZLib::~CZLib() {
  m_pOutFile.Reset();
  m_pInFile.Reset();
}

bool CZLib::UnZip(const char* sArchive, const char* sDestination) {
  QV_LOG(kFunction, 0, kSource, "enter %s to %s", sArchive, sDestination);
  m_pReportFile.Reset();
  m_eWatched = WatchState::kNotSeen;

  wchar_t wTemp[MAX_PATH + 1] = {};
  const DWORD iTempLength = GetTempPathW(MAX_PATH + 1, wTemp);
  const std::string sTemp = (iTempLength > 0 && iTempLength <= MAX_PATH) ? TextConv::WideToUtf8(wTemp) : std::string();
  char sReport[Limits::kPath];
  snprintf(sReport, sizeof(sReport), "%sQV%d.txt", sTemp.c_str(), static_cast<int>(static_cast<std::int32_t>(time(nullptr))));
  m_sReportPath = sReport;

  const std::wstring wArchive = TextConv::Utf8ToWideBounded(sArchive, Limits::kPath);
  m_pInFile.Reset(wArchive.empty() ? nullptr : _wfopen(wArchive.c_str(), L"rb"));
  if (!m_pInFile) {
    LogErrorCode();
    QV_LOG(kFunction, 0, kSource, "can't open %s", sArchive);
    return false;
  }
  std::vector<char> aInBuffer(kStreamBuffer);
  setvbuf(m_pInFile.Get(), aInBuffer.data(), _IOFBF, aInBuffer.size());

  FileSink sink(*this, sDestination);
  PackageArchive::FileSource source(m_pInFile.Get());
  const bool bComplete = PackageArchive::Extract(source, sDestination, sink, m_oLimits);
  m_pOutFile.Reset();
  // Closed before the buffer it reads through goes, and before the delete.
  m_pInFile.Reset();
  if (!bComplete) return false;

  if (!DeleteFileW(wArchive.c_str())) {
    QV_LOG(kFunction, 0, kSource, "can't delete %s, error code: %lu", sArchive, GetLastError());
  }
  if (m_pReportFile) {
    m_pReportFile.Reset();
    m_pReportOpener(TextConv::Utf8ToWide(m_sReportPath));
  }
  return true;
}

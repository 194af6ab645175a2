#include "code/utility/zlibpp.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "code/utility/archive.h"
#include "code/utility/limits.h"
#include "code/utility/logsink.h"
#include "code/utility/sockerror.h"
#include "code/utility/textconv.h"

namespace {
const char kFunction[] = "CZLib::UnZip";
const char kSource[] = "code/utility/zlibpp";
constexpr std::size_t kStreamBuffer = 256 * 1024;

std::wstring WidePath(const std::string& sPath) {
  return TextConv::Utf8ToWideBounded(sPath, PackageArchive::kMaxTargetChars);
}

// Creates the failure report "<temp>QV<seconds>.txt". A report of an
// unpacking in the same second (the accessory package) may still be open
// in the user's editor: take the next free number instead of replacing it.
std::FILE* CreateReport(std::string& sPath) {
  for (int i = 0; i < 100; ++i) {
    const std::wstring wPath = TextConv::Utf8ToWide(sPath);
    if (GetFileAttributesW(wPath.c_str()) == INVALID_FILE_ATTRIBUTES) return _wfopen(wPath.c_str(), L"w");
    const std::size_t iDigits = sPath.rfind("QV") + 2;
    const long long iNext = std::atoll(sPath.c_str() + iDigits) + 1;
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
}  // namespace

// Writes members through the C run-time streams of the CZLib object: each
// member goes to a temporary name beside its target and replaces the target
// only when its stream was complete.
class CZLib::FileSink : public PackageArchive::Sink {
 public:
  explicit FileSink(CZLib& owner) : m_oOwner(owner) {}

  int CreateFolders(const std::string& sFolder) override {
    const std::wstring wFolder = WidePath(sFolder);
    if (wFolder.empty()) return ERROR_FILENAME_EXCED_RANGE;
    return SHCreateDirectoryExW(nullptr, wFolder.c_str(), nullptr);
  }

  bool BeginFile(const std::string& sTarget) override {
    m_wTarget = WidePath(sTarget);
    m_wTemp = WidePath(sTarget + PackageArchive::kTempSuffix);
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
    m_oOwner.m_pOutFile = _wfopen(m_wTemp.c_str(), L"wb");
    if (m_oOwner.m_pOutFile == nullptr) return false;
    setvbuf(m_oOwner.m_pOutFile, m_aBuffer.data(), _IOFBF, m_aBuffer.size());
    return true;
  }

  std::size_t WriteFile(const void* pData, std::size_t n) override {
    return fwrite(pData, 1, n, m_oOwner.m_pOutFile);
  }

  bool CommitFile() override {
    const bool bClosed = fclose(m_oOwner.m_pOutFile) == 0;
    m_oOwner.m_pOutFile = nullptr;
    if (bClosed && MoveFileExW(m_wTemp.c_str(), m_wTarget.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    DeleteFileW(m_wTemp.c_str());
    return false;
  }

  void DiscardFile() override {
    fclose(m_oOwner.m_pOutFile);
    m_oOwner.m_pOutFile = nullptr;
    DeleteFileW(m_wTemp.c_str());
  }

  void LogLastError() override { LogErrorCode(); }

  void ReportFailed(const std::string& sTarget) override {
    if (m_oOwner.m_pReportFile == nullptr) {
      m_oOwner.m_pReportFile = CreateReport(m_oOwner.m_sReportPath);
      if (m_oOwner.m_pReportFile == nullptr) {
        QV_LOG(kFunction, 0, kSource, "can't create %s", m_oOwner.m_sReportPath.c_str());
        return;
      }
      fputs("The following files failed to copy to the destination:\n\n", m_oOwner.m_pReportFile);
    }
    // UTF-8, so that every name survives whatever the user's code page is.
    fprintf(m_oOwner.m_pReportFile, "%s\n", sTarget.c_str());
    fflush(m_oOwner.m_pReportFile);
  }

 private:
  CZLib& m_oOwner;
  // One stream buffer for every member; each file is closed before the sink goes.
  std::vector<char> m_aBuffer = std::vector<char>(kStreamBuffer);
  std::wstring m_wTarget;
  std::wstring m_wTemp;
};

CZLib::CZLib()
    : m_pOutFile(nullptr), m_pInFile(nullptr), m_pReportFile(nullptr), m_pReportOpener(&OpenWithShell) {}

CZLib::~CZLib() {
  if (m_pOutFile) fclose(m_pOutFile);
  if (m_pInFile) fclose(m_pInFile);
  if (m_pReportFile) fclose(m_pReportFile);
}

bool CZLib::UnZip(const char* sArchive, const char* sDestination) {
  QV_LOG(kFunction, 0, kSource, "enter %s to %s", sArchive, sDestination);
  if (m_pReportFile) {
    fclose(m_pReportFile);
    m_pReportFile = nullptr;
  }

  wchar_t wTemp[MAX_PATH + 1] = {};
  const DWORD iTempLength = GetTempPathW(MAX_PATH + 1, wTemp);
  const std::string sTemp = (iTempLength > 0 && iTempLength <= MAX_PATH) ? TextConv::WideToUtf8(wTemp) : std::string();
  char sReport[Limits::kPath];
  snprintf(sReport, sizeof(sReport), "%sQV%d.txt", sTemp.c_str(), static_cast<int>(static_cast<std::int32_t>(time(nullptr))));
  m_sReportPath = sReport;

  const std::wstring wArchive = TextConv::Utf8ToWideBounded(sArchive, Limits::kPath);
  m_pInFile = wArchive.empty() ? nullptr : _wfopen(wArchive.c_str(), L"rb");
  if (m_pInFile == nullptr) {
    LogErrorCode();
    QV_LOG(kFunction, 0, kSource, "can't open %s", sArchive);
    return false;
  }
  std::vector<char> aInBuffer(kStreamBuffer);
  setvbuf(m_pInFile, aInBuffer.data(), _IOFBF, aInBuffer.size());

  FileSink sink(*this);
  PackageArchive::FileSource source(m_pInFile);
  const bool bComplete = PackageArchive::Extract(source, sDestination, sink);
  if (m_pOutFile) {
    fclose(m_pOutFile);
    m_pOutFile = nullptr;
  }
  fclose(m_pInFile);
  m_pInFile = nullptr;
  if (!bComplete) return false;

  if (!DeleteFileW(wArchive.c_str())) {
    QV_LOG(kFunction, 0, kSource, "can't delete %s, error code: %lu", sArchive, GetLastError());
  }
  if (m_pReportFile) {
    fclose(m_pReportFile);
    m_pReportFile = nullptr;
    m_pReportOpener(TextConv::Utf8ToWide(m_sReportPath));
  }
  return true;
}

#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "code/utility/log/logsink.h"
#include "code/utility/system/fileutil.h"
#include "code/utility/system/myconfigure.h"
#include "code/utility/system/scopedhandle_win.h"
#include "code/utility/text/asciitext.h"
#include "code/utility/text/tagtext.h"
#include "code/utility/text/textconv.h"

namespace {
const char kSource[] = "code/utility/myconfigure";

MyConfigure* g_pMyConfigure = nullptr;
std::mutex g_csCacheFile;  // taken before the cross-process mutex, always

// Holds the cross-process mutex for one operation; a wait that fails is
// logged and the operation goes on without it.
class CacheFileLock {
 public:
  explicit CacheFileLock(const char* sFunction) {
    m_hMutex.Reset(CreateMutexW(nullptr, FALSE, L"QVCacheFileMutex"));
    const DWORD iWait = m_hMutex ? WaitForSingleObject(m_hMutex.Get(), MyConfigure::kMutexWaitMs) : WAIT_FAILED;
    m_bOwned = iWait == WAIT_OBJECT_0 || iWait == WAIT_ABANDONED;
    if (!m_bOwned) {
      const int iError = static_cast<int>(iWait == WAIT_TIMEOUT ? WAIT_TIMEOUT : GetLastError());
      QV_LOG_ERROR_CODE(sFunction, 3, kSource, iError, "failed to WaitForSingleObject(CACHE_FILE_MUTEX) ");
    }
  }
  ~CacheFileLock() {
    if (m_bOwned) ReleaseMutex(m_hMutex.Get());
  }

 private:
  ScopedKernelHandle m_hMutex;
  bool m_bOwned = false;
};

}  // namespace

constexpr const char MyConfigure::kEndMarker[];
constexpr const char MyConfigure::kMutexName[];

MyConfigure::MyConfigure(int iMode) : m_iMode(iMode) {}

bool MyConfigure::Initialize(int iMode) {
  MyConfigure* pInstance = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_csCacheFile);
    if (g_pMyConfigure != nullptr) {
      QV_LOG("MyConfigure::Initialize", 3, kSource, "m_oMyConfigureSingleton exist");
      return false;
    }
    g_pMyConfigure = pInstance = new (std::nothrow) MyConfigure(iMode);
  }
  if (pInstance) {
    const std::string sPath = DefaultFilePath();
    if (!sPath.empty()) pInstance->SetFilePath(sPath.c_str());
  }
  return true;
}

MyConfigure* MyConfigure::GetInstance() { return g_pMyConfigure; }

std::string MyConfigure::DefaultFilePath() {
  wchar_t wFolder[MAX_PATH] = {0};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, wFolder))) return std::string();
  std::wstring w = wFolder;
  if (!w.empty() && w.back() != L'\\') w += L'\\';
  w += L"Quorumvessel\\QVStarterCache.txt";
  return TextConv::WideToUtf8Bounded(w, sizeof(m_sFilePath));
}

bool MyConfigure::SetFilePath(const char* sPath) {
  const std::wstring wPath = TextConv::Utf8ToWideBounded(sPath ? sPath : "", 512);
  if (sPath == nullptr || wPath.empty() || std::strlen(sPath) >= sizeof(m_sFilePath)) return false;
  std::lock_guard<std::mutex> lock(g_csCacheFile);
  std::memcpy(m_sFilePath, sPath, std::strlen(sPath) + 1);
  std::memcpy(m_wFilePath, wPath.c_str(), (wPath.size() + 1) * sizeof(wchar_t));
  if (GetFileAttributesW(m_wFilePath) != INVALID_FILE_ATTRIBUTES) return true;
  CacheFileLock fileLock("MyConfigure::Initialize");
  if (GetFileAttributesW(m_wFilePath) != INVALID_FILE_ATTRIBUTES) return true;
  const std::size_t iSlash = wPath.find_last_of(L"\\/");
  if (iSlash != std::wstring::npos && iSlash > 0) SHCreateDirectoryExW(nullptr, wPath.substr(0, iSlash).c_str(), nullptr);
  if (!Utility::WriteTextFile(std::wstring(m_wFilePath), DefaultContent())) {
    QV_LOG("MyConfigure::Initialize", 3, kSource, "failed to open %s for writing", m_sFilePath);
    return false;
  }
  return true;
}

bool MyConfigure::ReadFile(std::string& sText) {
  sText.clear();
  if (m_sFilePath[0] == '\0' || !Utility::ReadFileBytes(m_sFilePath, sText)) return false;
  sText = Utility::FoldLineBreaks(sText);
  // A zero byte ends the text, as it would for the tag functions.
  const std::size_t iZero = sText.find('\0');
  if (iZero != std::string::npos) sText.resize(iZero);
  return true;
}

bool MyConfigure::ReadConfigure(const char* sStartTag, const char* sEndTag, char* sOutput, std::size_t iOutputSize) {
  if (sOutput && iOutputSize) sOutput[0] = 0;
  std::lock_guard<std::mutex> lock(g_csCacheFile);
  CacheFileLock fileLock("MyConfigure::ReadConfigure");
  std::string sText;
  if (!ReadFile(sText)) {
    QV_LOG("MyConfigure::ReadConfigure", 3, kSource, "failed to open %s", m_sFilePath);
    return false;
  }
  return TagText::Extract(sText.c_str(), sStartTag, sEndTag, sOutput, iOutputSize);
}

bool MyConfigure::WriteConfigure(const char* sStartTag, const char* sEndTag, const char* sValue) {
  if (sValue == nullptr) return false;
  std::lock_guard<std::mutex> lock(g_csCacheFile);
  CacheFileLock fileLock("MyConfigure::WriteConfigure");
  std::string sText;
  if (!ReadFile(sText)) {
    QV_LOG("MyConfigure::WriteConfigure", 3, kSource, "failed to open %s", m_sFilePath);
    return false;
  }
  std::string sNew;
  if (!RewriteText(sText, sStartTag, sEndTag, sValue, sNew)) return false;
  // The new text goes to a file of its own first and then takes the cache
  // file's place, so a failed write never leaves a half file behind.
  std::wstring wTemp = m_wFilePath;
  wTemp += L"." + std::to_wstring(GetCurrentProcessId()) + L".tmp";
  if (!Utility::WriteTextFile(wTemp, sNew) ||
      !MoveFileExW(wTemp.c_str(), m_wFilePath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileW(wTemp.c_str());
    QV_LOG("MyConfigure::WriteConfigure", 3, kSource, "failed to open %s for writing", m_sFilePath);
    return false;
  }
  return true;
}

#include <winsock2.h>
#include <windows.h>

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "code/utility/log/logsink.h"
#include "code/utility/log/sockerror.h"
#include "code/utility/system/fileutil.h"
#include "code/utility/system/scopedhandle_win.h"
#include "code/utility/text/limits.h"
#include "code/utility/text/textconv.h"

namespace Utility {

namespace {
const char kSource[] = "code/utility/utility";
}

std::wstring ToWidePath(const char* sPath, std::size_t iCapacity) {
  if (sPath == nullptr || iCapacity == 0) return std::wstring();
  if (iCapacity > Limits::kPath) iCapacity = Limits::kPath;
  return TextConv::Utf8ToWideBounded(sPath, iCapacity);
}

bool ReadWholeFile(const char* sPath, int iPathLength, std::size_t* pSize, std::unique_ptr<char[]>& oData) {
  oData.reset();
  if (pSize) *pSize = 0;
  if (pSize == nullptr || iPathLength <= 0) return false;
  const std::wstring wsPath = ToWidePath(sPath, static_cast<std::size_t>(iPathLength));
  if (wsPath.empty()) return false;
  ScopedStdioFile oFile(_wfopen(wsPath.c_str(), L"rb"));
  if (!oFile) return false;
  if (_fseeki64(oFile.Get(), 0, SEEK_END) != 0) return false;
  const long long iLength = _ftelli64(oFile.Get());
  if (iLength < 0 || static_cast<unsigned long long>(iLength) >
                         std::numeric_limits<std::size_t>::max() - kReadWholeFileSpare)
    return false;
  if (_fseeki64(oFile.Get(), 0, SEEK_SET) != 0) return false;
  const std::size_t n = static_cast<std::size_t>(iLength);
  std::unique_ptr<char[]> oBlock(new (std::nothrow) char[n + kReadWholeFileSpare]);
  if (!oBlock) return false;
  // A file that shrank under us is a failed read, not a block of garbage.
  if (n > 0 && std::fread(oBlock.get(), 1, n, oFile.Get()) != n) return false;
  *pSize = n;
  oData = std::move(oBlock);
  return true;
}

void GetFileData(const char* sFileName, std::size_t* pSize, std::unique_ptr<char[]>& oData) {
  oData.reset();
  if (pSize) *pSize = 0;
  if (sFileName == nullptr || sFileName[0] == '\0' || pSize == nullptr) return;
  const std::wstring wsPath = ToWidePath(sFileName);
  ScopedStdioFile oFile(wsPath.empty() ? nullptr : _wfopen(wsPath.c_str(), L"rb"));
  if (!oFile) {
    QV_LOG("Utility::GetFileData()", 0, kSource, "Failed to open sFileName %s", sFileName);
    return;
  }
  struct _stat64 oInfo;
  if (_wstat64(wsPath.c_str(), &oInfo) != 0 || oInfo.st_size < 0 ||
      static_cast<unsigned long long>(oInfo.st_size) >= std::numeric_limits<std::size_t>::max())
    return;
  const std::size_t iSize = static_cast<std::size_t>(oInfo.st_size);
  std::unique_ptr<char[]> oBlock(new (std::nothrow) char[iSize + 1]);
  if (!oBlock) return;
  char* pData = oBlock.get();
  // The size reported is what was actually read, so the terminator always
  // follows real data.
  const std::size_t iRead = iSize ? std::fread(pData, 1, iSize, oFile.Get()) : 0;
  pData[iRead] = '\0';
  *pSize = iRead;
  oData = std::move(oBlock);
}

bool CopyMyFile(const char* sSourceFile, const char* sDestinationFile) {
  if (sSourceFile == nullptr || sDestinationFile == nullptr) return false;
  if (!FileExists(sSourceFile)) {
    QV_LOG("Utility::CopyMyFile()", 0, kSource, "sSourceFile, %s, does not exist", sSourceFile);
    return false;
  }
  const std::wstring wsDestination = ToWidePath(sDestinationFile);
  if (wsDestination.empty()) return false;
  return CopyFileW(ToWidePath(sSourceFile).c_str(), wsDestination.c_str(), FALSE) != FALSE;
}

bool RemoveAllFile(const char* sPath, const char* sKeep) {
  if (sPath == nullptr || sPath[0] == '\0') return false;
  const std::string sFolder(sPath);
  const std::string sKeepText(sKeep ? sKeep : "");
  const std::wstring wsFolder = ToWidePath(sPath);
  const std::wstring wsPattern = ToWidePath((sFolder + "\\*").c_str());

  WIN32_FIND_DATAW oEntry;
  ScopedFindHandle oFind(wsPattern.empty() ? INVALID_HANDLE_VALUE : FindFirstFileW(wsPattern.c_str(), &oEntry));
  if (!oFind) {
    if (!wsFolder.empty()) RemoveDirectoryW(wsFolder.c_str());
    return false;
  }
  do {
    if (std::wcscmp(oEntry.cFileName, L".") == 0 || std::wcscmp(oEntry.cFileName, L"..") == 0) continue;
    const std::string sEntry = sFolder + "\\" + TextConv::WideToUtf8(oEntry.cFileName);
    const std::wstring wsEntry = ToWidePath(sEntry.c_str());
    if (wsEntry.empty()) continue;
    const DWORD iAttributes = oEntry.dwFileAttributes;
    SetFileAttributesW(wsEntry.c_str(),
                       iAttributes & ~(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    const bool bKeep = !sKeepText.empty() && sEntry.find(sKeepText) != std::string::npos;
    if (iAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (iAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // Only the link goes; what it points to is outside this tree.
        if (!bKeep) RemoveDirectoryW(wsEntry.c_str());
        continue;
      }
      RemoveAllFile(sEntry.c_str(), sKeep);
    }
    if (!bKeep) DeleteFileW(wsEntry.c_str());
  } while (FindNextFileW(oFind.Get(), &oEntry));
  oFind.Reset();
  RemoveDirectoryW(wsFolder.c_str());

  const DWORD iLastError = GetLastError();
  const int iSocketError = WSAGetLastError();
  // The texts come from one per-thread buffer: keep the first before asking again.
  const std::string sSystemText = GetSocketErrorText(static_cast<int>(iLastError));
  QV_LOG("Utility::RemoveAllFile()", 3, kSource, "End of RemoveAllFile: path = %s, %s, error code: %d, error: %s",
         sPath, sSystemText.c_str(), iSocketError, GetSocketErrorText(iSocketError));
  return true;
}

bool FileExists(const char* sPath) {
  const std::wstring wsPath = ToWidePath(sPath);
  return !wsPath.empty() && GetFileAttributesW(wsPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool FileExists(const std::string& sPath) { return FileExists(sPath.c_str()); }

bool ReadFileBytes(const std::string& sPath, std::string& sBytes) {
  sBytes.clear();
  const std::wstring wsPath = ToWidePath(sPath.c_str());
  if (wsPath.empty()) return false;
  ScopedFileHandle hFile(CreateFileW(wsPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!hFile) return false;
  LARGE_INTEGER iSize;
  if (!GetFileSizeEx(hFile.Get(), &iSize) || iSize.QuadPart < 0 || iSize.QuadPart > 0x7fffffff) return false;
  sBytes.assign(static_cast<std::size_t>(iSize.QuadPart), '\0');
  std::size_t iDone = 0;
  while (iDone < sBytes.size()) {
    DWORD iRead = 0;
    if (!ReadFile(hFile.Get(), &sBytes[iDone], static_cast<DWORD>(sBytes.size() - iDone), &iRead, nullptr) ||
        iRead == 0)
      break;
    iDone += iRead;
  }
  sBytes.resize(iDone);
  return true;
}

bool WriteTextFile(const std::wstring& wsPath, const std::string& sText) {
  if (wsPath.empty()) return false;
  ScopedStdioFile oFile(_wfopen(wsPath.c_str(), L"wt"));
  if (!oFile) return false;
  const bool bWritten = std::fwrite(sText.data(), 1, sText.size(), oFile.Get()) == sText.size();
  return std::fflush(oFile.Get()) == 0 && bWritten;
}

bool WriteTextFile(const std::string& sPath, const std::string& sText) {
  return WriteTextFile(ToWidePath(sPath.c_str()), sText);
}

}  // namespace Utility

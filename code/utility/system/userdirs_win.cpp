#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "code/utility/log/logsink.h"
#include "code/utility/system/scopedhandle_win.h"
#include "code/utility/system/userdirs.h"
#include "code/utility/text/boundedtext.h"
#include "code/utility/text/limits.h"
#include "code/utility/text/textconv.h"

namespace Utility {
namespace {
const char* const kSource = "code/utility/utility";
const char* const kGetUserDirectory = "Utility::GetUserDirectory()";

std::string ToNarrowPath(const std::wstring& w) { return TextConv::WideToUtf8Bounded(w, Limits::kPath); }

std::wstring LongPath(const wchar_t* sPath) {
  wchar_t sLong[Limits::kPath] = {};
  const DWORD n = GetLongPathNameW(sPath, sLong, Limits::kPath);
  if (n == 0 || n >= Limits::kPath) return sPath;
  return sLong;
}

// Empty when the shell has no such folder.
std::wstring ShellFolder(int iCsidl) {
  wchar_t sFolder[MAX_PATH + 1] = {};
  if (FAILED(SHGetFolderPathW(nullptr, iCsidl, nullptr, SHGFP_TYPE_CURRENT, sFolder))) return L"";
  return sFolder;
}

void Store(char* sTarget, const std::string& sValue) {
  if (sTarget == nullptr) return;
  if (!CopyIfFits(sTarget, Limits::kPath, sValue)) sTarget[0] = '\0';
}

bool GetVersionRecord(OSVERSIONINFOEXW& oInfo) {
  ZeroMemory(&oInfo, sizeof(oInfo));
  oInfo.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXW);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&oInfo))) return true;
  oInfo.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
  return GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&oInfo)) != FALSE;
#pragma GCC diagnostic pop
}

std::string CurrentUserName() {
  wchar_t sName[Limits::kPath] = {};
  DWORD iLength = Limits::kPath;
  if (!GetUserNameW(sName, &iLength)) return "";
  return TextConv::WideToUtf8Bounded(sName, Limits::kPath);
}
}  // namespace

void GetUserDirectory(const char* sClientName, char* sCurrentDirectory, char* sCurrentFile,
                      char* sUserApplicationDirectory, char* sTempDirectory, char* sStartMenuDirectory,
                      char* sDesktopDirectory, bool& bUserAppDirAccessable, bool& bSystemUser,
                      char* sDocumentsDirectory, char* sCommonDesktopDirectory) {
  const std::string sClient = sClientName ? sClientName : "";
  const std::string sAppFolder = ApplicationFolderName(sClient);

  wchar_t sModule[Limits::kPath] = {};
  const DWORD iModule = GetModuleFileNameW(nullptr, sModule, Limits::kPath);
  if (iModule == 0 || iModule >= Limits::kPath) sModule[0] = L'\0';
  const std::string sCurrentFilePath = ToNarrowPath(LongPath(sModule));
  QV_LOG(kGetUserDirectory, 0, kSource, "sCurrentFilePath = %s", sCurrentFilePath.c_str());
  std::string sDirectory;
  std::string sFile = sCurrentFilePath;
  if (CutAtLastBackslash(sCurrentFilePath, sDirectory)) sFile = sCurrentFilePath.substr(sDirectory.size() + 1);
  Store(sCurrentDirectory, sDirectory);
  Store(sCurrentFile, sFile);

  bUserAppDirAccessable = true;
  bSystemUser = false;
  std::string sUserApp;
  if (!IsSystemUser()) {
    const std::wstring sAppData = ShellFolder(CSIDL_APPDATA);
    if (sAppData.empty()) {
      bUserAppDirAccessable = false;
      QV_LOG(kGetUserDirectory, 0, kSource, "user application directory does not exist");
    } else {
      sUserApp = ToNarrowPath(sAppData);
    }
    QV_LOG(kGetUserDirectory, 0, kSource, "bSystemUser = false, sUserApplicationDirectory = %s", sUserApp.c_str());
  } else {
    bSystemUser = true;
    sUserApp = sDirectory;
    QV_LOG(kGetUserDirectory, 0, kSource, "bSystemUser = true, sUserApplicationDirectory = %s", sUserApp.c_str());
    const std::string sSuffix = SystemUserDirectorySuffix(sDirectory, sAppFolder);
    if (!sSuffix.empty()) {
      sUserApp += sSuffix;
      QV_LOG(kGetUserDirectory, 0, kSource, "bSystemUser = true, sUserApplicationDirectory = %s", sUserApp.c_str());
    }
  }

  const bool bAllUsersEdition = sClient == "Saltmarsh" && IsVistaOrLater();
  if (bAllUsersEdition) {
    std::string sParent;
    if (CutAtLastBackslash(ToNarrowPath(ShellFolder(CSIDL_COMMON_DOCUMENTS)), sParent)) sUserApp = sParent;
    QV_LOG(kGetUserDirectory, 0, kSource, "from CSIDL_COMMON_DOCUMENTS, sUserApplicationDirectory = %s",
           sUserApp.c_str());
  }

  wchar_t sTemp[Limits::kPath] = {};
  const DWORD iTemp = GetTempPathW(Limits::kPath, sTemp);
  if (iTemp == 0 || iTemp >= Limits::kPath) sTemp[0] = L'\0';
  std::string sTempPath = ToNarrowPath(LongPath(sTemp));

  Store(sDocumentsDirectory, ToNarrowPath(ShellFolder(CSIDL_PERSONAL)));
  const std::wstring sPrograms = ShellFolder(bAllUsersEdition ? CSIDL_COMMON_PROGRAMS : CSIDL_PROGRAMS);
  const std::string sStartMenu = ToNarrowPath(sPrograms) + "\\" + sAppFolder;
  Store(sStartMenuDirectory, sStartMenu);
  const std::wstring sDesktop = ShellFolder(CSIDL_DESKTOPDIRECTORY);
  Store(sDesktopDirectory, sDesktop.empty() ? "" : ToNarrowPath(LongPath(sDesktop.c_str())));
  const std::wstring sCommonDesktop = ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY);
  Store(sCommonDesktopDirectory, sCommonDesktop.empty() ? "" : ToNarrowPath(LongPath(sCommonDesktop.c_str())));

  sUserApp = RemoveTrailingBackslash(sUserApp);
  sTempPath = RemoveTrailingBackslash(sTempPath);
  Store(sUserApplicationDirectory, sUserApp);
  Store(sTempDirectory, sTempPath);

  QV_LOG(kGetUserDirectory, 0, kSource, "sStartMenuDirectory = %s", sStartMenuDirectory ? sStartMenuDirectory : "");
  QV_LOG(kGetUserDirectory, 0, kSource, "sCurrentDirectory = %s", sCurrentDirectory ? sCurrentDirectory : "");
  QV_LOG(kGetUserDirectory, 0, kSource, "sCurrentFile = %s", sCurrentFile ? sCurrentFile : "");
  QV_LOG(kGetUserDirectory, 0, kSource, "sUserApplicationDirectory = %s",
         sUserApplicationDirectory ? sUserApplicationDirectory : "");
  QV_LOG(kGetUserDirectory, 0, kSource, "sTempDirectory = %s", sTempDirectory ? sTempDirectory : "");
  QV_LOG(kGetUserDirectory, 0, kSource, "sDesktopDirectory = %s", sDesktopDirectory ? sDesktopDirectory : "");
  QV_LOG(kGetUserDirectory, 0, kSource, bUserAppDirAccessable ? "bUserAppDirAccessable = true"
                                                                : "bUserAppDirAccessable = false");
  QV_LOG(kGetUserDirectory, 0, kSource, bSystemUser ? "bSystemUser = true" : "bSystemUser = false");
}

bool IsSystemUser() { return IsSystemUserName(CurrentUserName()); }

bool IsVistaOrLater() {
  OSVERSIONINFOEXW oInfo;
  if (!GetVersionRecord(oInfo)) return false;
  return oInfo.dwPlatformId == VER_PLATFORM_WIN32_NT && oInfo.dwMajorVersion > 5;
}

bool IsWindowsXP() {
  OSVERSIONINFOEXW oInfo;
  if (!GetVersionRecord(oInfo)) return false;
  return oInfo.dwPlatformId == VER_PLATFORM_WIN32_NT && oInfo.dwMajorVersion == 5 && oInfo.dwMinorVersion == 1;
}

bool IsUserAdmin() {
  const char* const kFunction = "Utility::IsUserAdmin()";
  HANDLE hToken = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken)) {
    QV_LOG(kFunction, 0, kSource, "OpenProcessToken Error %u\n", static_cast<unsigned>(GetLastError()));
    return false;
  }
  const ScopedKernelHandle oToken(hToken);
  DWORD iSize = 0;
  if (!GetTokenInformation(hToken, TokenGroups, nullptr, 0, &iSize) &&
      GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    QV_LOG(kFunction, 0, kSource, "GetTokenInformation Error %u\n", static_cast<unsigned>(GetLastError()));
    return false;
  }
  std::vector<unsigned char> aGroups(iSize, 0);
  if (iSize == 0 || !GetTokenInformation(hToken, TokenGroups, aGroups.data(), iSize, &iSize)) {
    QV_LOG(kFunction, 0, kSource, "GetTokenInformation Error %u\n", static_cast<unsigned>(GetLastError()));
    return false;
  }
  SID_IDENTIFIER_AUTHORITY oNtAuthority = SECURITY_NT_AUTHORITY;
  PSID pAdministrators = nullptr;
  if (!AllocateAndInitializeSid(&oNtAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                                0, 0, &pAdministrators)) {
    QV_LOG(kFunction, 0, kSource, "AllocateAndInitializeSid Error %u\n", static_cast<unsigned>(GetLastError()));
    return false;
  }
  const ScopedSid oAdministrators(pAdministrators);
  bool bAdmin = false;
  const auto* pGroups = reinterpret_cast<const TOKEN_GROUPS*>(aGroups.data());
  for (DWORD i = 0; i < pGroups->GroupCount; ++i) {
    if (!EqualSid(pAdministrators, pGroups->Groups[i].Sid)) continue;
    const DWORD iAttributes = pGroups->Groups[i].Attributes;
    if (iAttributes & SE_GROUP_ENABLED) {
      bAdmin = true;
      QV_LOG(kFunction, 0, kSource, "The group SID is enabled.\n");
    } else if (iAttributes & SE_GROUP_USE_FOR_DENY_ONLY) {
      bAdmin = true;
      QV_LOG(kFunction, 0, kSource, "The group SID is a deny-only SID.\n");
    } else {
      QV_LOG(kFunction, 0, kSource, "The group SID is not enabled.\n");
    }
  }
  return bAdmin;
}
}  // namespace Utility

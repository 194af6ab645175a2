#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <cstring>
#include <vector>

#include "code/utility/log/logmask.h"
#include "code/utility/log/logsink.h"
#include "code/utility/log/sockerror.h"
#include "code/utility/system/processutil.h"
#include "code/utility/system/scopedhandle_win.h"
#include "code/utility/text/asciitext.h"
#include "code/utility/text/limits.h"
#include "code/utility/text/textconv.h"

namespace {
const char* const kSource = "code/utility/utility";

// Runs the shell's "open" on the program of a command line that could not be
// created directly (a document, a program the loader refuses).
bool StartThroughShell(const char* sCommandLine, const std::wstring& wsWorkingDirectory, int iShow) {
  const char* const kFunction = "Utility::StartProcess";
  std::string sExecutable;
  std::string sParameter;
  Utility::SplitCommandLine(sCommandLine, sExecutable, sParameter);
  const std::wstring wsExecutable = TextConv::Utf8ToWideBounded(sExecutable, Utility::kProcessCommandLine);
  const std::wstring wsParameter = TextConv::Utf8ToWideBounded(sParameter, Utility::kProcessCommandLine);
  HINSTANCE hInstance = nullptr;
  if (!wsExecutable.empty() && (sParameter.empty() || !wsParameter.empty())) {
    hInstance = ShellExecuteW(nullptr, L"open", wsExecutable.c_str(), wsParameter.c_str(),
                              wsWorkingDirectory.empty() ? nullptr : wsWorkingDirectory.c_str(), iShow);
  }
  const INT_PTR iResult = reinterpret_cast<INT_PTR>(hInstance);
  if (iResult <= 32) {
    const int iErrorCode = static_cast<int>(GetLastError());
    QV_LOG(kFunction, 3, kSource,
           "ShellExecute(): iHinstance = %d, iErrorCode = %d, Error = %s, sExecutable = %s, sParameter = %s",
           static_cast<int>(iResult), iErrorCode, GetSocketErrorText(iErrorCode), sExecutable.c_str(),
           LogMask::CommandLine(sParameter).c_str());
    return false;
  }
  return true;
}

// Lets the walk open processes of other users where the account may do so.
// Returns true when the thread was made to impersonate (to be reverted).
bool EnableDebugPrivilege() {
  const char* const kFunction = "Utility::TerminateProcessByName";
  bool bImpersonating = false;
  HANDLE hToken = nullptr;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, FALSE, &hToken)) {
    int iErrorCode = static_cast<int>(GetLastError());
    if (iErrorCode == ERROR_NO_TOKEN) {
      if (!ImpersonateSelf(SecurityImpersonation)) {
        iErrorCode = static_cast<int>(GetLastError());
        QV_LOG(kFunction, 3, kSource, "ImpersonateSelf(SecurityImpersonation) failed: %d, %s", iErrorCode,
               GetSocketErrorText(iErrorCode));
        return false;
      }
      bImpersonating = true;
      if (!OpenThreadToken(GetCurrentThread(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, FALSE, &hToken)) {
        iErrorCode = static_cast<int>(GetLastError());
        QV_LOG(kFunction, 3, kSource, "OpenThreadToken() failed: %d, %s", iErrorCode,
               GetSocketErrorText(iErrorCode));
        return bImpersonating;
      }
    } else {
      QV_LOG(kFunction, 3, kSource, "OpenThreadToken() failed: %d, %s", iErrorCode, GetSocketErrorText(iErrorCode));
      return false;
    }
  }
  ScopedKernelHandle oToken(hToken);
  TOKEN_PRIVILEGES oPrivileges = {};
  if (LookupPrivilegeValueW(nullptr, L"SeDebugPrivilege", &oPrivileges.Privileges[0].Luid)) {
    oPrivileges.PrivilegeCount = 1;
    oPrivileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    AdjustTokenPrivileges(oToken.Get(), FALSE, &oPrivileges, sizeof(oPrivileges), nullptr, nullptr);
  }
  return bImpersonating;
}
}  // namespace

namespace Utility {

bool StartProcess(const char* sCommandLine, const char* sWorkingDirectory, unsigned long* pProcessId) {
  const char* const kFunction = "Utility::StartProcess";
  if (sCommandLine == nullptr) sCommandLine = "";
  // A launch link's protected value never reaches the log, only its length.
  const std::string sLogged = LogMask::CommandLine(sCommandLine);
  const int iShow = std::strstr(sCommandLine, "Quorumvessel.exe") != nullptr ? SW_SHOW : SW_HIDE;
  STARTUPINFOW oStartup = {};
  oStartup.cb = sizeof(oStartup);
  oStartup.dwFlags = STARTF_USESHOWWINDOW;
  oStartup.wShowWindow = static_cast<WORD>(iShow);

  const std::wstring wsCommandLine = TextConv::Utf8ToWideBounded(sCommandLine, kProcessCommandLine);
  if (wsCommandLine.empty()) {
    // Never start a cut or empty command line: it would name another program.
    QV_LOG(kFunction, 3, kSource, "sCommandLine is empty or does not fit %u characters: %s",
           static_cast<unsigned>(kProcessCommandLine - 1), sLogged.c_str());
    return false;
  }
  std::vector<wchar_t> aCommandLine(wsCommandLine.begin(), wsCommandLine.end());
  aCommandLine.push_back(L'\0');

  std::wstring wsWorkingDirectory;
  PROCESS_INFORMATION oProcess = {};
  BOOL bCreated = FALSE;
  if (sWorkingDirectory != nullptr) {
    QV_LOG(kFunction, 0, kSource, "sCommandLine = %s, sWorkingDirectory = %s", sLogged.c_str(), sWorkingDirectory);
    wsWorkingDirectory = TextConv::Utf8ToWideBounded(sWorkingDirectory, Limits::kPath);
    if (wsWorkingDirectory.empty() && sWorkingDirectory[0] != '\0') {
      QV_LOG(kFunction, 3, kSource, "sWorkingDirectory does not fit %u characters",
             static_cast<unsigned>(Limits::kPath - 1));
      return false;
    }
    QV_LOG(kFunction, 0, kSource, "UTF8ToUTF16 is OK");
    bCreated = CreateProcessW(nullptr, aCommandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                              wsWorkingDirectory.empty() ? nullptr : wsWorkingDirectory.c_str(), &oStartup,
                              &oProcess);
    if (bCreated) {
      QV_LOG(kFunction, 0, kSource, "succeeded.");
    } else {
      const int iErrorCode = static_cast<int>(GetLastError());
      QV_LOG(kFunction, 0, kSource, "iErrorCode = %d, Error = %s", iErrorCode, GetSocketErrorText(iErrorCode));
    }
  } else {
    QV_LOG(kFunction, 0, kSource, "sCommandLine = %s", sLogged.c_str());
    bCreated = CreateProcessW(nullptr, aCommandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &oStartup, &oProcess);
    const int iErrorCode = static_cast<int>(GetLastError());
    QV_LOG(kFunction, 0, kSource, "iErrorCode = %d, Error = %s", iErrorCode, GetSocketErrorText(iErrorCode));
  }

  if (bCreated) {
    ScopedKernelHandle oProcessHandle(oProcess.hProcess);
    ScopedKernelHandle oThreadHandle(oProcess.hThread);
    if (pProcessId != nullptr) *pProcessId = oProcess.dwProcessId;
    return true;
  }

  const int iErrorCode = static_cast<int>(GetLastError());
  QV_LOG(kFunction, 0, kSource, "iErrorCode = %d, Error = %s", iErrorCode, GetSocketErrorText(iErrorCode));
  return StartThroughShell(sCommandLine, wsWorkingDirectory, iShow);
}

bool IsProcessRunning(const char* sName) {
  if (sName == nullptr || sName[0] == '\0') return false;
  ScopedFileHandle oSnapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!oSnapshot) return false;
  const std::string sLowerName = ToLowerASCII(sName);
  PROCESSENTRY32W oEntry = {};
  oEntry.dwSize = sizeof(oEntry);
  int iCount = 0;
  for (BOOL bMore = Process32FirstW(oSnapshot.Get(), &oEntry); bMore && iCount < kMaxProcessWalk;
       bMore = Process32NextW(oSnapshot.Get(), &oEntry), ++iCount) {
    if (ToLowerASCII(TextConv::WideToUtf8(oEntry.szExeFile)) == sLowerName) return true;
  }
  return false;
}

bool TerminateProcessByName(const char* sProcessName) {
  const char* const kFunction = "Utility::TerminateProcessByName";
  if (sProcessName == nullptr || sProcessName[0] == '\0') return false;
  const std::string sLowerTarget = ToLowerASCII(sProcessName);
  QV_LOG(kFunction, 0, kSource, "sProcessName = %s", sLowerTarget.c_str());

  ScopedFileHandle oSnapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!oSnapshot) {
    const int iErrorCode = static_cast<int>(GetLastError());
    QV_LOG(kFunction, 3, kSource, "hProcessSnap == INVALID_HANDLE_VALUE: %d, %s", iErrorCode,
           GetSocketErrorText(iErrorCode));
    return false;
  }
  PROCESSENTRY32W oEntry = {};
  oEntry.dwSize = sizeof(oEntry);
  if (!Process32FirstW(oSnapshot.Get(), &oEntry)) {
    const int iErrorCode = static_cast<int>(GetLastError());
    oSnapshot.Reset();
    QV_LOG(kFunction, 3, kSource, "!Process32First(): %d, %s", iErrorCode, GetSocketErrorText(iErrorCode));
    return false;
  }

  const bool bImpersonating = EnableDebugPrivilege();
  const DWORD iOwnProcessId = GetCurrentProcessId();
  int iCount = 0;
  BOOL bMore = TRUE;
  while (bMore) {
    if (++iCount > kMaxProcessWalk) {
      QV_LOG(kFunction, 3, kSource, "CRITICAL ISSUE: there is a dead loop. One Quorumvessel.exe cannot be removed!");
      break;
    }
    // The starter never stops itself, whatever its file is called.
    if (oEntry.th32ProcessID != iOwnProcessId &&
        ProcessNameMatches(sLowerTarget, TextConv::WideToUtf8(oEntry.szExeFile))) {
      HANDLE hProcess = OpenProcess(PROCESS_ALL_ACCESS, FALSE, oEntry.th32ProcessID);
      if (hProcess == nullptr) {
        hProcess = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_TERMINATE, FALSE,
                               oEntry.th32ProcessID);
      }
      ScopedKernelHandle oProcess(hProcess);
      if (oProcess) TerminateProcess(oProcess.Get(), 0);
    }
    bMore = Process32NextW(oSnapshot.Get(), &oEntry);
  }
  if (bImpersonating) RevertToSelf();
  return true;
}

}  // namespace Utility

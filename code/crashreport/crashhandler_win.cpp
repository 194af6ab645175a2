#include "code/crashreport/crashhandler.h"

#include <windows.h>
#include <dbghelp.h>

#include <cstdarg>
#include <cwchar>

#include "code/buildflavor.h"
#include "code/crashreport/errorreport.h"
#include "code/utility/system/scopedhandle_win.h"

// Everything here runs inside the filter of a crashed process: fixed stack
// buffers, one static output buffer and plain wide Win32 calls only.

namespace {

constexpr DWORD kModulePathCapacity = 518;
constexpr DWORD kModuleNameCapacity = 1038;
constexpr int kOutputCapacity = 8192;
constexpr int kOutputFlushAt = 7168;
constexpr int kPrintMax = 1024;
constexpr MINIDUMP_TYPE kDumpType =
    MINIDUMP_TYPE(MiniDumpWithDataSegs | MiniDumpScanMemory | MiniDumpWithIndirectlyReferencedMemory);

volatile LONG g_iFirstException = 1;  // set until the first exception is taken

wchar_t g_sOutput[kOutputCapacity];
int g_iOutputPosition = 0;

LONG WINAPI DefaultFilter(EXCEPTION_POINTERS* pExceptionPointers) {
  return CrashHandler::UnhandledExceptionFilter(pExceptionPointers, "Default");
}

// Replaces what follows the last backslash with sName; false if it does not fit.
bool ReplaceFileName(wchar_t* sPath, size_t iCapacity, const wchar_t* sName) {
  wchar_t* pSlash = wcsrchr(sPath, L'\\');
  wchar_t* pName = pSlash ? pSlash + 1 : sPath;
  size_t iKeep = size_t(pName - sPath);
  size_t iNameLength = wcslen(sName);
  if (iKeep + iNameLength + 1 > iCapacity) return false;
  wmemcpy(pName, sName, iNameLength + 1);
  return true;
}

// Full path of the executable, or "Unknown", with room to swap the file name.
void GetReportPath(wchar_t (&sPath)[kModulePathCapacity + 16], const wchar_t* sName) {
  DWORD n = GetModuleFileNameW(nullptr, sPath, kModulePathCapacity);
  if (n == 0 || n >= kModulePathCapacity) wcscpy(sPath, L"Unknown");
  if (!ReplaceFileName(sPath, kModulePathCapacity + 16, sName)) wcscpy(sPath, sName);
}

HANDLE CreateReportFile(const wchar_t* sPath) {
  return CreateFileW(sPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
}

// Reads from our own address space without faulting on a bad header.
bool ReadOwnMemory(const void* pAddress, void* pOut, SIZE_T iSize) {
  SIZE_T iRead = 0;
  return ReadProcessMemory(GetCurrentProcess(), pAddress, pOut, iSize, &iRead) && iRead == iSize;
}

// Describes the module at sBase; false when there is none there.
bool PrintModule(HANDLE hFile, int iNumber, const BYTE* pBase) {
  wchar_t sModuleName[kModuleNameCapacity];
  DWORD n = GetModuleFileNameW(HMODULE(pBase), sModuleName, kModuleNameCapacity);
  if (n == 0 || n >= kModuleNameCapacity) return false;

  IMAGE_DOS_HEADER oDos;
  if (!ReadOwnMemory(pBase, &oDos, sizeof oDos) || oDos.e_magic != IMAGE_DOS_SIGNATURE) return false;
  IMAGE_NT_HEADERS oNt;
  if (oDos.e_lfanew <= 0 || !ReadOwnMemory(pBase + oDos.e_lfanew, &oNt, sizeof oNt) ||
      oNt.Signature != IMAGE_NT_SIGNATURE)
    return false;

  DWORD iFileSize = 0;
  wchar_t sFileTime[64] = L"";
  const ScopedFileHandle hModuleFile(CreateFileW(sModuleName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                nullptr, OPEN_EXISTING, 0, nullptr));
  if (hModuleFile) {
    iFileSize = GetFileSize(hModuleFile.Get(), nullptr);
    if (iFileSize == INVALID_FILE_SIZE) iFileSize = 0;
    FILETIME oWrite, oLocal;
    WORD iDate = 0, iTime = 0;
    if (GetFileTime(hModuleFile.Get(), nullptr, nullptr, &oWrite) && FileTimeToLocalFileTime(&oWrite, &oLocal) &&
        FileTimeToDosDateTime(&oLocal, &iDate, &iTime)) {
      _snwprintf(sFileTime, 63, L"%d/%d/%d %02d:%02d:%02d", (iDate >> 5) & 0x0f, iDate & 0x1f,
                 (iDate >> 9) + 1980, iTime >> 11, (iTime >> 5) & 0x3f, (iTime & 0x1f) * 2);
      sFileTime[63] = 0;
    }
  }

  CrashHandler::Print(hFile, L"Module %d\r\n", iNumber);
  CrashHandler::Print(hFile, L"%ls\r\n", sModuleName);
  CrashHandler::Print(hFile, L"Image Base: 0x%08llx  Image Size: 0x%08x\r\n",
                      (unsigned long long)oNt.OptionalHeader.ImageBase, (unsigned)oNt.OptionalHeader.SizeOfImage);
  CrashHandler::Print(hFile, L"Checksum:   0x%08x  Time Stamp: 0x%08x\r\n", (unsigned)oNt.OptionalHeader.CheckSum,
                      (unsigned)oNt.FileHeader.TimeDateStamp);
  CrashHandler::Print(hFile, L"File Size:  %-10d  File Time:  %ls\r\n", (int)iFileSize, sFileTime);
  CrashHandler::Print(hFile, L"Version Information:\r\n");
  return true;
}

// Loads the dump library by its full path, never by a library search: the
// starter's own folder is usually Downloads, where a file of that name may
// have been put by anything else downloaded. Candidates in order: the
// player's temporary folder of this process, then the system folder.
HMODULE LoadDumpLibrary() {
  wchar_t sTemp[MAX_PATH + 1];
  const DWORD t = GetTempPathW(MAX_PATH + 1, sTemp);
  if (t > 0 && t <= MAX_PATH) {
    wchar_t sCandidate[MAX_PATH + 64];
    const int n = _snwprintf(sCandidate, MAX_PATH + 63, L"%lsQVPlaying%lu\\dbghelp.dll", sTemp,
                             (unsigned long)GetCurrentProcessId());
    sCandidate[MAX_PATH + 63] = 0;
    if (n > 0) {
      if (HMODULE h = LoadLibraryW(sCandidate)) return h;
    }
  }
  wchar_t sSystem[MAX_PATH + 1];
  const UINT s = GetSystemDirectoryW(sSystem, MAX_PATH + 1);
  if (s == 0 || s > MAX_PATH) return nullptr;
  wchar_t sCandidate[MAX_PATH + 32];
  const int n = _snwprintf(sCandidate, MAX_PATH + 31, L"%ls\\dbghelp.dll", sSystem);
  sCandidate[MAX_PATH + 31] = 0;
  return n > 0 ? LoadLibraryW(sCandidate) : nullptr;
}

void WriteDumpWithLibrary(HANDLE hFile, EXCEPTION_POINTERS* pExceptionPointers) {
  OutputDebugStringW(L"writing minidump\r\n");
  ScopedModule hLibrary(LoadDumpLibrary());
  if (!hLibrary) return;

  using WriteDumpFunction = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE, PMINIDUMP_EXCEPTION_INFORMATION,
                                          PMINIDUMP_USER_STREAM_INFORMATION, PMINIDUMP_CALLBACK_INFORMATION);
  auto pWriteDump = reinterpret_cast<WriteDumpFunction>(
      reinterpret_cast<void*>(GetProcAddress(hLibrary.Get(), "MiniDumpWriteDump")));
  if (pWriteDump) {
    MINIDUMP_EXCEPTION_INFORMATION oInfo;
    oInfo.ThreadId = GetCurrentThreadId();
    oInfo.ExceptionPointers = pExceptionPointers;
    oInfo.ClientPointers = FALSE;
    pWriteDump(GetCurrentProcess(), GetCurrentProcessId(), hFile, kDumpType, &oInfo, nullptr, nullptr);
  }
}

}  // namespace

void CrashHandler::InstallFilter() {
  SetUnhandledExceptionFilter(&DefaultFilter);
}

void CrashHandler::CrashPoint(const char* sWhere) {
  if (GetBuildFlavor().pCrashPoint) GetBuildFlavor().pCrashPoint(sWhere);
}

bool CrashHandler::HasHandledCrash() {
  return g_iFirstException == 0;
}

long CrashHandler::UnhandledExceptionFilter(_EXCEPTION_POINTERS* pExceptionPointers, const char* sContext) {
  // Taken atomically, so two threads crashing together do not both write.
  if (InterlockedExchange(&g_iFirstException, 0) == 0) return EXCEPTION_CONTINUE_SEARCH;

  wchar_t sPath[kModulePathCapacity + 16];
  GetReportPath(sPath, L"ERRORLOG.TXT");
  {
    const ScopedFileHandle hReport(CreateReportFile(sPath));
    if (!hReport) {
      OutputDebugStringW(L"Error creating exception report\r\n");
      return EXCEPTION_CONTINUE_SEARCH;
    }
    WriteModuleList(hReport.Get());
    Print(hReport.Get(), L"\r\n===== [end of %ls] =====\r\n", L"ERRORLOG.TXT");
    Flush(hReport.Get());
  }

  GetReportPath(sPath, L"CRASH.DMP");
  if (const ScopedFileHandle hDump{CreateReportFile(sPath)}) WriteMiniDump(hDump.Get(), pExceptionPointers);

  // A debugger gets the exception itself; no report is sent.
  if (IsDebuggerPresent()) return EXCEPTION_CONTINUE_SEARCH;

  ErrorReport::Send();
  return EXCEPTION_EXECUTE_HANDLER;
}

void CrashHandler::WriteMiniDump(void* hFile, _EXCEPTION_POINTERS* pExceptionPointers) {
  if (pExceptionPointers) {
    WriteDumpWithLibrary(hFile, pExceptionPointers);
    return;
  }
  // A dump on request: describe the calling thread as a breakpoint here.
  OutputDebugStringW(L"raising exception\r\n");
  CONTEXT oContext;
  RtlCaptureContext(&oContext);
  EXCEPTION_RECORD oRecord = {};
  oRecord.ExceptionCode = EXCEPTION_BREAKPOINT;
#if defined(_M_X64) || defined(__x86_64__)
  oRecord.ExceptionAddress = reinterpret_cast<void*>(oContext.Rip);
#else
  oRecord.ExceptionAddress = reinterpret_cast<void*>(oContext.Eip);
#endif
  EXCEPTION_POINTERS oPointers = {&oRecord, &oContext};
  WriteDumpWithLibrary(hFile, &oPointers);
}

void CrashHandler::WriteModuleList(void* hFile) {
  SYSTEM_INFO oSystem;
  GetSystemInfo(&oSystem);
  // The whole user address space (4 GiB or less for a 32-bit process).
  const ULONG_PTR iEnd = ULONG_PTR(oSystem.lpMaximumApplicationAddress);
  const ULONG_PTR iSkip = 64 * 1024;
  ULONG_PTR iAddress = 0;
  ULONG_PTR iLastBase = 0;
  int iModule = 0;
  while (iAddress < iEnd) {
    MEMORY_BASIC_INFORMATION oRegion;
    ULONG_PTR iStep = iSkip;
    if (VirtualQuery(reinterpret_cast<void*>(iAddress), &oRegion, sizeof oRegion) != 0 && oRegion.RegionSize != 0) {
      iStep = oRegion.RegionSize;
      ULONG_PTR iBase = ULONG_PTR(oRegion.AllocationBase);
      if (oRegion.State == MEM_COMMIT && iBase > iLastBase) {
        iLastBase = iBase;
        if (PrintModule(hFile, iModule + 1, reinterpret_cast<const BYTE*>(iBase))) ++iModule;
      }
    }
    if (iAddress + iStep < iAddress) break;  // wrapped around
    iAddress += iStep;
  }
}

void CrashHandler::Print(void* hFile, const wchar_t* sFormat, ...) {
  if (g_iOutputPosition > kOutputFlushAt) Flush(hFile);
  va_list oArgs;
  va_start(oArgs, sFormat);
  // At most kPrintMax characters; the buffer always has that much room here.
  int n = vswprintf(g_sOutput + g_iOutputPosition, kPrintMax, sFormat, oArgs);
  va_end(oArgs);
  if (n < 0) {
    // Too long: keep what fitted, without the terminator.
    n = int(wcsnlen(g_sOutput + g_iOutputPosition, kPrintMax - 1));
  }
  g_iOutputPosition += n;
}

void CrashHandler::Flush(void* hFile) {
  const BYTE* pData = reinterpret_cast<const BYTE*>(g_sOutput);
  DWORD iLeft = DWORD(g_iOutputPosition) * sizeof(wchar_t);
  while (iLeft > 0) {
    DWORD iWritten = 0;
    if (!WriteFile(hFile, pData, iLeft, &iWritten, nullptr) || iWritten == 0) break;
    pData += iWritten;
    iLeft -= iWritten;
  }
  g_iOutputPosition = 0;
}

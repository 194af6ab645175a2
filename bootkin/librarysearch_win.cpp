#include "bootkin/librarysearch_win.h"

#include <string>

#include "code/buildflavor.h"
#include "code/utility/log/logsink.h"
#include "code/utility/log/sockerror.h"
#include "code/utility/system/scopedhandle_win.h"
#include "code/utility/text/limits.h"
#include "code/utility/text/textconv.h"

namespace {
const char* const kFunction = "BootkinApp::InitInstance()";
const char* const kSource = "bootkin/bootkin";
}  // namespace

// Libraries loaded by name at run time (by us or by system libraries on our
// behalf) must come from the system folder, never from the starter's own
// folder or the current one.
LibrarySearch::Outcome LibrarySearch::Restrict() {
  Outcome o;
  // Looked up at run time: older systems lack these and must still start.
  HMODULE hKernel = GetModuleHandleW(L"kernel32.dll");
  if (hKernel == nullptr) {
    o.iError = GetLastError();
    return o;
  }
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  using SetDllDirectoryFunction = BOOL(WINAPI*)(LPCWSTR);
  const auto pSetDefault = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
      reinterpret_cast<void*>(GetProcAddress(hKernel, "SetDefaultDllDirectories")));
  if (pSetDefault != nullptr) {
    if (pSetDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
      o.eKind = Outcome::kSystemOnly;
      return o;
    }
    o.iError = GetLastError();
  }
  // Without it, at least the current folder leaves the search.
  const auto pSetDllDirectory = reinterpret_cast<SetDllDirectoryFunction>(
      reinterpret_cast<void*>(GetProcAddress(hKernel, "SetDllDirectoryW")));
  if (pSetDllDirectory != nullptr) {
    if (pSetDllDirectory(L"")) {
      o.eKind = Outcome::kNoCurrentFolder;
      return o;
    }
    o.iError = GetLastError();
  }
  return o;
}

void LibrarySearch::Log(const Outcome& oSearch) {
  switch (oSearch.eKind) {
    case Outcome::kSystemOnly:
      break;
    case Outcome::kNoCurrentFolder:
      QV_LOG(kFunction, 0, kSource, "SetDefaultDllDirectories not available, error code: %d, error: %s; "
             "the current folder is left out of the library search", static_cast<int>(oSearch.iError),
             GetSocketErrorText(static_cast<int>(oSearch.iError)));
      break;
    case Outcome::kUnchanged:
      QV_LOG(kFunction, 3, kSource, "Library search left unchanged, error code: %d, error: %s",
             static_cast<int>(oSearch.iError), GetSocketErrorText(static_cast<int>(oSearch.iError)));
      break;
  }
}

void LibrarySearch::LoadTestLibraries() {
  const char* sList = GetBuildFlavor().sTestLoadLibraries;
  if (sList == nullptr) return;
  std::string sNames = sList;
  for (std::size_t iStart = 0; iStart <= sNames.size();) {
    std::size_t iEnd = sNames.find(',', iStart);
    if (iEnd == std::string::npos) iEnd = sNames.size();
    const std::string sName = sNames.substr(iStart, iEnd - iStart);
    iStart = iEnd + 1;
    if (sName.empty()) continue;
    ScopedModule oLibrary(LoadLibraryA(sName.c_str()));
    if (!oLibrary) {
      const int iError = static_cast<int>(GetLastError());
      QV_LOG(kFunction, 0, kSource, "Test load of %s failed, error code: %d, error: %s", sName.c_str(), iError,
             GetSocketErrorText(iError));
      continue;
    }
    wchar_t sPath[Limits::kPath] = {0};
    const DWORD n = GetModuleFileNameW(oLibrary.Get(), sPath, Limits::kPath);
    if (n == 0 || n >= Limits::kPath) sPath[0] = L'\0';
    QV_LOG(kFunction, 0, kSource, "Test load of %s gave %s", sName.c_str(),
           TextConv::WideToUtf8Bounded(sPath, Limits::kPath).c_str());
  }
}

#pragma once
// Shared by the stand-ins of the client family's programs. Each one records
// how it was started into "<Name>.record.txt" beside its own file (Name: its
// file name without ".exe", so a copy under another name records apart), so
// a test can see the command line, working folder and show mode the starter
// used. Options come from the command line and from "<Name>.options.txt"
// beside the file (one per line), because the starter, not the test, starts
// them.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <string>
#include <vector>

namespace fake {

inline std::string ToUtf8(const std::wstring& w) {
  if (w.empty()) return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr, nullptr);
  return s;
}

inline std::wstring ToWide(const std::string& s) {
  if (s.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &w[0], n);
  return w;
}

inline std::wstring ModulePath() {
  wchar_t sPath[4096] = {0};
  GetModuleFileNameW(nullptr, sPath, 4096);
  return sPath;
}

inline std::wstring ModuleDirectory() {
  const std::wstring w = ModulePath();
  const std::size_t i = w.find_last_of(L'\\');
  return i == std::wstring::npos ? std::wstring(L".") : w.substr(0, i);
}

inline std::wstring ModuleName() {
  std::wstring w = ModulePath();
  w = w.substr(w.find_last_of(L'\\') + 1);
  const std::size_t i = w.find_last_of(L'.');
  return i == std::wstring::npos ? w : w.substr(0, i);
}

inline bool FileExists(const std::wstring& sPath) {
  return GetFileAttributesW(sPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline bool ReadFileText(const std::wstring& sPath, std::string& sText) {
  HANDLE h = CreateFileW(sPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  sText.clear();
  char aBuffer[4096];
  DWORD n = 0;
  while (ReadFile(h, aBuffer, sizeof(aBuffer), &n, nullptr) && n > 0) sText.append(aBuffer, n);
  CloseHandle(h);
  return true;
}

// Appends in one write, so a reader never sees half an entry.
inline void AppendFileText(const std::wstring& sPath, const std::string& sText) {
  HANDLE h = CreateFileW(sPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD n = 0;
  WriteFile(h, sText.data(), static_cast<DWORD>(sText.size()), &n, nullptr);
  CloseHandle(h);
}

class Program {
 public:
  Program() : m_sName(ModuleName()), m_sDirectory(ModuleDirectory()) {
    int n = 0;
    if (LPWSTR* aArgs = CommandLineToArgvW(GetCommandLineW(), &n)) {
      for (int i = 1; i < n; ++i) m_aOptions.push_back(aArgs[i]);
      LocalFree(aArgs);
    }
    std::string sFile;
    if (ReadFileText(Beside(L".options.txt"), sFile)) {
      std::size_t iStart = 0;
      while (iStart < sFile.size()) {
        std::size_t iEnd = sFile.find('\n', iStart);
        if (iEnd == std::string::npos) iEnd = sFile.size();
        std::string sLine = sFile.substr(iStart, iEnd - iStart);
        while (!sLine.empty() && (sLine.back() == '\r' || sLine.back() == ' ')) sLine.pop_back();
        if (!sLine.empty()) m_aOptions.push_back(ToWide(sLine));
        iStart = iEnd + 1;
      }
    }
  }

  std::wstring Beside(const wchar_t* sSuffix) const { return m_sDirectory + L"\\" + m_sName + sSuffix; }
  const std::wstring& Directory() const { return m_sDirectory; }

  bool Has(const wchar_t* sOption) const {
    for (const auto& s : m_aOptions) {
      if (s == sOption) return true;
    }
    return false;
  }
  // Value of an option written "--name=value".
  std::wstring Value(const wchar_t* sPrefix) const {
    const std::wstring sP(sPrefix);
    for (const auto& s : m_aOptions) {
      if (s.compare(0, sP.size(), sP) == 0) return s.substr(sP.size());
    }
    return std::wstring();
  }
  DWORD Number(const wchar_t* sPrefix, DWORD iDefault) const {
    const std::wstring s = Value(sPrefix);
    return s.empty() ? iDefault : static_cast<DWORD>(wcstoul(s.c_str(), nullptr, 10));
  }

  // One entry per start, ended by a line "end".
  void RecordStart() const {
    STARTUPINFOW oStartup = {};
    oStartup.cb = sizeof(oStartup);
    GetStartupInfoW(&oStartup);
    wchar_t sDirectory[4096] = {0};
    GetCurrentDirectoryW(4096, sDirectory);
    const int iShow = (oStartup.dwFlags & STARTF_USESHOWWINDOW) ? oStartup.wShowWindow : -1;
    std::string s = "commandline=" + ToUtf8(GetCommandLineW()) + "\n";
    s += "directory=" + ToUtf8(sDirectory) + "\n";
    s += "show=" + std::to_string(iShow) + "\n";
    s += "pid=" + std::to_string(GetCurrentProcessId()) + "\n";
    s += "end\n";
    AppendFileText(Beside(L".record.txt"), s);
  }
  void RecordEvent(const std::string& sEvent) const { AppendFileText(Beside(L".events.txt"), sEvent + "\n"); }

 private:
  std::wstring m_sName;
  std::wstring m_sDirectory;
  std::vector<std::wstring> m_aOptions;
};

}  // namespace fake

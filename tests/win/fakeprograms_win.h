#pragma once
// Test support: a private folder with copies of the client family's stand-in
// programs, and the records they leave. Tests that start or stop those
// programs hold ClientFamilyLock, since stopping works by process name and
// test processes share one Wine server.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "code/utility/text/textconv.h"
#include "tests/fakes/common/fakeprogram.h"

namespace testfakes {

inline std::string BinDirectory() {
  wchar_t sPath[1024] = {0};
  GetModuleFileNameW(nullptr, sPath, 1024);
  std::wstring w(sPath);
  return TextConv::WideToUtf8(w.substr(0, w.find_last_of(L'\\')));
}

inline std::string FakePath(const std::string& sName) { return BinDirectory() + "\\fakes\\" + sName + ".exe"; }

inline bool ReadText(const std::string& sPath, std::string& sText) {
  return fake::ReadFileText(TextConv::Utf8ToWide(sPath), sText);
}

inline std::string ReadText(const std::string& sPath) {
  std::string s;
  ReadText(sPath, s);
  return s;
}

inline void WriteText(const std::string& sPath, const std::string& sText) {
  HANDLE h = CreateFileW(TextConv::Utf8ToWide(sPath).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << sPath;
  DWORD n = 0;
  WriteFile(h, sText.data(), static_cast<DWORD>(sText.size()), &n, nullptr);
  CloseHandle(h);
}

inline bool Exists(const std::string& sPath) {
  return GetFileAttributesW(TextConv::Utf8ToWide(sPath).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Polls until the condition holds or about 20 s have passed.
inline bool WaitFor(const std::function<bool()>& fCondition) {
  for (int i = 0; i < 400; ++i) {
    if (fCondition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return fCondition();
}

// A fresh folder under the temporary folder, removed with its content.
class TempFolder {
 public:
  explicit TempFolder(const std::string& sLeaf = "qv test") {
    wchar_t sTemp[MAX_PATH] = {0};
    GetTempPathW(MAX_PATH, sTemp);
    static int s_iCount = 0;
    m_sPath = TextConv::WideToUtf8(sTemp) + sLeaf + " " + std::to_string(GetCurrentProcessId()) + "-" +
              std::to_string(++s_iCount);
    Remove();
    CreateDirectoryW(TextConv::Utf8ToWide(m_sPath).c_str(), nullptr);
  }
  ~TempFolder() { Remove(); }
  const std::string& Path() const { return m_sPath; }
  std::string operator/(const std::string& sLeaf) const { return m_sPath + "\\" + sLeaf; }
  std::string Sub(const std::string& sLeaf) const {
    const std::string s = m_sPath + "\\" + sLeaf;
    CreateDirectoryW(TextConv::Utf8ToWide(s).c_str(), nullptr);
    return s;
  }

 private:
  void Remove() {
    std::wstring w = TextConv::Utf8ToWide(m_sPath);
    w.push_back(L'\0');
    SHFILEOPSTRUCTW op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = w.c_str();
    op.fFlags = FOF_NO_UI;
    SHFileOperationW(&op);
  }
  std::string m_sPath;
};

// Copies a stand-in into a folder, under its own name unless told otherwise.
inline std::string CopyFake(const std::string& sName, const std::string& sFolder, const std::string& sAs = "") {
  const std::string sTarget = sFolder + "\\" + (sAs.empty() ? sName + ".exe" : sAs);
  CopyFileW(TextConv::Utf8ToWide(FakePath(sName)).c_str(), TextConv::Utf8ToWide(sTarget).c_str(), FALSE);
  return sTarget;
}

// Starts a program directly (not through the code under test).
inline DWORD Launch(const std::string& sCommandLine, const std::string& sDirectory) {
  std::wstring w = TextConv::Utf8ToWide(sCommandLine);
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(nullptr, &w[0], nullptr, nullptr, FALSE, 0, nullptr,
                      TextConv::Utf8ToWide(sDirectory).c_str(), &si, &pi)) {
    return 0;
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return pi.dwProcessId;
}

inline bool ProcessAlive(DWORD iProcessId) {
  HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, iProcessId);
  if (h == nullptr) return false;
  const bool bAlive = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
  CloseHandle(h);
  return bAlive;
}

inline void Kill(DWORD iProcessId) {
  if (HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, iProcessId)) {
    TerminateProcess(h, 0);
    WaitForSingleObject(h, 5000);
    CloseHandle(h);
  }
}

// Value of "key=" in the first entry of a record file.
inline std::string RecordValue(const std::string& sRecord, const std::string& sKey) {
  const std::string sPrefix = sKey + "=";
  std::size_t i = sRecord.compare(0, sPrefix.size(), sPrefix) == 0 ? 0 : sRecord.find("\n" + sPrefix);
  if (i == std::string::npos) return std::string();
  if (i != 0) ++i;
  i += sPrefix.size();
  return sRecord.substr(i, sRecord.find('\n', i) - i);
}

// Waits for the first complete start entry of a stand-in in a folder.
inline std::string WaitForRecord(const std::string& sFolder, const std::string& sName) {
  const std::string sPath = sFolder + "\\" + sName + ".record.txt";
  std::string sRecord;
  WaitFor([&] { return ReadText(sPath, sRecord) && sRecord.find("end\n") != std::string::npos; });
  return sRecord;
}

class ClientFamilyLock {
 public:
  ClientFamilyLock() : m_h(CreateMutexW(nullptr, FALSE, L"QVTestsClientFamilyLock")) {
    // Generous, but never endless: a stuck holder fails the test instead.
    const DWORD iWait = WaitForSingleObject(m_h, 180000);
    m_bOwned = iWait == WAIT_OBJECT_0 || iWait == WAIT_ABANDONED;
    EXPECT_TRUE(m_bOwned) << "client family lock not obtained";
  }
  ~ClientFamilyLock() {
    if (m_bOwned) ReleaseMutex(m_h);
    CloseHandle(m_h);
  }

 private:
  HANDLE m_h;
  bool m_bOwned = false;
};

}  // namespace testfakes

#pragma once
// Test helper: a fresh folder under the temporary folder, removed afterwards.
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "code/utility/text/textconv.h"

class TestDir {
 public:
  explicit TestDir(const std::string& sName) {
    wchar_t wsTemp[MAX_PATH] = {0};
    GetTempPathW(MAX_PATH, wsTemp);
    m_oPath = std::filesystem::path(wsTemp) /
              (L"qvtest_" + TextConv::Utf8ToWide(sName) + L"_" + std::to_wstring(GetCurrentProcessId()));
    std::error_code ec;
    std::filesystem::remove_all(m_oPath, ec);
    std::filesystem::create_directories(m_oPath);
  }
  ~TestDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_oPath, ec);
  }
  TestDir(const TestDir&) = delete;
  TestDir& operator=(const TestDir&) = delete;

  const std::filesystem::path& Path() const { return m_oPath; }
  // UTF-8 path of an entry, with a trailing backslash for the folder itself.
  std::string Utf8(const std::string& sName = "") const {
    const std::string sDir = TextConv::WideToUtf8(m_oPath.wstring()) + "\\";
    return sDir + sName;
  }
  std::filesystem::path Of(const std::string& sName) const { return m_oPath / TextConv::Utf8ToWide(sName); }

  void Write(const std::string& sName, const std::string& sBytes) const {
    std::filesystem::create_directories(Of(sName).parent_path());
    std::ofstream f(Of(sName), std::ios::binary | std::ios::trunc);
    f << sBytes;
  }
  std::string Read(const std::string& sName) const {
    std::ifstream f(Of(sName), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }
  bool Exists(const std::string& sName) const { return std::filesystem::exists(Of(sName)); }

 private:
  std::filesystem::path m_oPath;
};

#include "code/crashreport/crashhandler.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "code/utility/text/textconv.h"

namespace {

// A file in the test's own temporary folder, removed afterwards.
class TempFile {
 public:
  explicit TempFile(const wchar_t* sName) {
    wchar_t sTemp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, sTemp);
    m_sPath = std::wstring(sTemp) + L"qvcrash-" + std::to_wstring(GetCurrentProcessId()) + L"-" + sName;
    m_hFile = CreateFileW(m_sPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  }
  ~TempFile() {
    Close();
    DeleteFileW(m_sPath.c_str());
  }
  HANDLE Handle() const { return m_hFile; }
  void Close() {
    if (m_hFile != INVALID_HANDLE_VALUE) CloseHandle(m_hFile);
    m_hFile = INVALID_HANDLE_VALUE;
  }
  std::string Read() const {
    std::ifstream oIn(TextConv::WideToUtf8(m_sPath).c_str(), std::ios::binary);
    std::ostringstream oOut;
    oOut << oIn.rdbuf();
    return oOut.str();
  }
  long long Size() const {
    WIN32_FILE_ATTRIBUTE_DATA o;
    if (!GetFileAttributesExW(m_sPath.c_str(), GetFileExInfoStandard, &o)) return -1;
    return (long long)o.nFileSizeHigh << 32 | o.nFileSizeLow;
  }

 private:
  std::wstring m_sPath;
  HANDLE m_hFile;
};

std::string Utf16LeToUtf8(const std::string& sBytes) {
  std::wstring w(sBytes.size() / 2, L'\0');
  std::memcpy(&w[0], sBytes.data(), w.size() * 2);
  return TextConv::WideToUtf8(w);
}

std::string ModulePath(HMODULE hModule) {
  wchar_t s[1040];
  DWORD n = GetModuleFileNameW(hModule, s, 1040);
  return TextConv::WideToUtf8(std::wstring(s, n));
}

template <typename T>
T At(const std::string& s, std::size_t iOffset) {
  T v{};
  if (iOffset + sizeof v <= s.size()) std::memcpy(&v, s.data() + iOffset, sizeof v);
  return v;
}

}  // namespace

TEST(CrashHandlerPrint, LongReportIsWrittenInPiecesWithNothingLost) {
  TempFile oFile(L"print.txt");
  ASSERT_NE(oFile.Handle(), INVALID_HANDLE_VALUE);
  std::wstring sExpected;
  bool bWrittenBeforeFlush = false;
  for (int i = 0; i < 700; ++i) {
    CrashHandler::Print(oFile.Handle(), L"line %d of %ls\r\n", i, L"the report \x00e9t\x00e9");
    sExpected += L"line " + std::to_wstring(i) + L" of the report \x00e9t\x00e9\r\n";
    if (oFile.Size() > 0) bWrittenBeforeFlush = true;
  }
  CrashHandler::Flush(oFile.Handle());
  oFile.Close();
  ASSERT_GT(sExpected.size(), 7168u * 2);
  EXPECT_TRUE(bWrittenBeforeFlush);
  const std::string sBytes = oFile.Read();
  // UTF-16LE, no byte-order mark.
  ASSERT_EQ(sBytes.size(), sExpected.size() * 2);
  EXPECT_EQ(sBytes.substr(0, 4), std::string("l\0i\0", 4));
  EXPECT_EQ(Utf16LeToUtf8(sBytes), TextConv::WideToUtf8(sExpected));
}

TEST(CrashHandlerWriteModuleList, OneBlockPerModuleWithHeaderFields) {
  TempFile oFile(L"modules.txt");
  ASSERT_NE(oFile.Handle(), INVALID_HANDLE_VALUE);
  CrashHandler::WriteModuleList(oFile.Handle());
  CrashHandler::Flush(oFile.Handle());
  oFile.Close();
  const std::string sText = Utf16LeToUtf8(oFile.Read());

  const std::regex oBlock(
      "Module (\\d+)\r\n([^\r\n]+)\r\n"
      "Image Base: 0x([0-9a-f]{8,})  Image Size: 0x([0-9a-f]{8})\r\n"
      "Checksum:   0x[0-9a-f]{8}  Time Stamp: 0x([0-9a-f]{8})\r\n"
      "File Size:  (\\d+) *  File Time:  (\\d{1,2}/\\d{1,2}/\\d{4} \\d\\d:\\d\\d:\\d\\d)?\r\n"
      "Version Information:\r\n");
  int iExpectedNumber = 1;
  bool bProgram = false, bKernel = false;
  std::size_t iEnd = 0;
  const std::string sProgram = ModulePath(nullptr);
  const std::string sKernel = ModulePath(GetModuleHandleW(L"kernel32.dll"));
  for (auto it = std::sregex_iterator(sText.begin(), sText.end(), oBlock); it != std::sregex_iterator(); ++it) {
    const std::smatch& m = *it;
    ASSERT_EQ(std::size_t(m.position(0)), iEnd) << "text between blocks";
    iEnd = m.position(0) + m.length(0);
    EXPECT_EQ(std::stoi(m[1]), iExpectedNumber++);
    if (m[2] == sProgram) {
      bProgram = true;
      const BYTE* pBase = reinterpret_cast<const BYTE*>(GetModuleHandleW(nullptr));
      auto* pNt = reinterpret_cast<const IMAGE_NT_HEADERS*>(pBase + reinterpret_cast<const IMAGE_DOS_HEADER*>(pBase)->e_lfanew);
      EXPECT_EQ(std::stoull(m[3].str(), nullptr, 16), (unsigned long long)pNt->OptionalHeader.ImageBase);
      EXPECT_EQ(std::stoul(m[4].str(), nullptr, 16), pNt->OptionalHeader.SizeOfImage);
      EXPECT_EQ(std::stoul(m[5].str(), nullptr, 16), pNt->FileHeader.TimeDateStamp);
      std::ifstream oExe(sProgram.c_str(), std::ios::binary | std::ios::ate);
      EXPECT_EQ(std::stoll(m[6]), (long long)oExe.tellg());
      EXPECT_TRUE(m[7].matched);
    }
    if (m[2] == sKernel) bKernel = true;
  }
  EXPECT_EQ(iEnd, sText.size()) << sText.substr(iEnd, 300);
  EXPECT_GT(iExpectedNumber, 3);
  EXPECT_TRUE(bProgram) << sProgram;
  EXPECT_TRUE(bKernel) << sKernel;
}

TEST(CrashHandlerWriteMiniDump, DumpOnRequestIsAValidMinidump) {
  TempFile oFile(L"request.dmp");
  ASSERT_NE(oFile.Handle(), INVALID_HANDLE_VALUE);
  CrashHandler::WriteMiniDump(oFile.Handle(), nullptr);
  oFile.Close();
  const std::string sDump = oFile.Read();
  ASSERT_GE(sDump.size(), 32u);
  EXPECT_EQ(sDump.substr(0, 4), "MDMP");
  EXPECT_EQ(At<uint16_t>(sDump, 4), 0xa793);
  const uint32_t iStreams = At<uint32_t>(sDump, 8);
  const uint32_t iDirectory = At<uint32_t>(sDump, 12);
  ASSERT_GT(iStreams, 0u);
  ASSERT_LE(iDirectory + iStreams * 12ull, sDump.size());
  bool bException = false;
  for (uint32_t i = 0; i < iStreams; ++i) {
    const uint32_t iType = At<uint32_t>(sDump, iDirectory + i * 12);
    const uint32_t iSize = At<uint32_t>(sDump, iDirectory + i * 12 + 4);
    const uint32_t iRva = At<uint32_t>(sDump, iDirectory + i * 12 + 8);
    EXPECT_LE(uint64_t(iRva) + iSize, sDump.size()) << "stream " << iType;
    if (iType == 6) {  // exception stream: thread id, alignment, then the record
      bException = true;
      EXPECT_EQ(At<uint32_t>(sDump, iRva), GetCurrentThreadId());
      EXPECT_EQ(At<uint32_t>(sDump, iRva + 8), 0x80000003u);
    }
  }
  EXPECT_TRUE(bException);
}

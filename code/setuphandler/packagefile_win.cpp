#include <windows.h>

#include <cstring>
#include <vector>

#include "code/setuphandler/packagefile.h"
#include "code/utility/system/scopedhandle_win.h"
#include "code/utility/text/limits.h"
#include "code/utility/text/textconv.h"

namespace {
// Small pieces from the network are gathered up to this; larger ones go to
// the file straight away.
constexpr std::size_t kWriteBuffer = 64 * 1024;

class WindowsPackageOutput : public PackageFile::Output {
 public:
  explicit WindowsPackageOutput(HANDLE hFile) : m_hFile(hFile) { m_aBuffer.reserve(kWriteBuffer); }
  ~WindowsPackageOutput() override { Flush(); }

  bool Restart() override {
    m_aBuffer.clear();
    LARGE_INTEGER iZero;
    iZero.QuadPart = 0;
    return SetFilePointerEx(m_hFile.Get(), iZero, nullptr, FILE_BEGIN) && SetEndOfFile(m_hFile.Get());
  }

  bool Append(const char* pData, std::size_t n) override {
    if (m_aBuffer.size() + n > kWriteBuffer && !Flush()) return false;
    if (n >= kWriteBuffer) return WriteAll(pData, n);
    m_aBuffer.insert(m_aBuffer.end(), pData, pData + n);
    return true;
  }

  bool Flush() override {
    if (m_aBuffer.empty()) return true;
    const bool bOk = WriteAll(m_aBuffer.data(), m_aBuffer.size());
    m_aBuffer.clear();
    return bOk;
  }

 private:
  bool WriteAll(const char* pData, std::size_t n) {
    while (n > 0) {
      const DWORD iWant = n > 0x40000000 ? 0x40000000 : static_cast<DWORD>(n);
      DWORD iWritten = 0;
      if (!WriteFile(m_hFile.Get(), pData, iWant, &iWritten, nullptr) || iWritten == 0) return false;
      pData += iWritten;
      n -= iWritten;
    }
    return true;
  }

  ScopedFileHandle m_hFile;
  std::vector<char> m_aBuffer;
};
}  // namespace

std::unique_ptr<PackageFile::Output> CreatePackageOutput(const std::string& sPath) {
  const std::wstring w = TextConv::Utf8ToWideBounded(sPath, Limits::kPath);
  if (w.empty()) return nullptr;
  const HANDLE h = CreateFileW(w.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  return std::unique_ptr<PackageFile::Output>(new WindowsPackageOutput(h));
}

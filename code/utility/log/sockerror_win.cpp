#include <windows.h>

#include <cstring>

#include "code/utility/log/sockerror.h"
#include "code/utility/text/limits.h"
#include "code/utility/text/textconv.h"

const char* GetSocketErrorText(int iErrorCode) {
  if (const char* sText = GetSocketErrorTableText(iErrorCode)) return sText;

  // One buffer per thread: a text handed to one thread is never replaced by
  // a call on another before it has been logged.
  thread_local char sBuffer[Limits::kPath];
  sBuffer[0] = '\0';
  wchar_t wsMessage[Limits::kPath] = {0};
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           static_cast<DWORD>(iErrorCode), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                           wsMessage, Limits::kPath - 1, nullptr);
  // The HTTP client's numbers (12001-12175) live in wininet's own message table.
  if (n == 0 && iErrorCode >= 12001 && iErrorCode <= 12175) {
    if (HMODULE hWinInet = GetModuleHandleW(L"wininet.dll")) {
      n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, hWinInet,
                         static_cast<DWORD>(iErrorCode), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), wsMessage,
                         Limits::kPath - 1, nullptr);
    }
  }
  if (n == 0) return sBuffer;
  std::string sUtf8 = TextConv::WideToUtf8(std::wstring(wsMessage, n));
  // An over-long message is cut at a character boundary rather than lost.
  if (sUtf8.size() >= sizeof(sBuffer)) {
    std::size_t iCut = sizeof(sBuffer) - 1;
    while (iCut > 0 && (static_cast<unsigned char>(sUtf8[iCut]) & 0xC0) == 0x80) --iCut;
    sUtf8.resize(iCut);
  }
  std::memcpy(sBuffer, sUtf8.data(), sUtf8.size());
  sBuffer[sUtf8.size()] = '\0';
  return sBuffer;
}

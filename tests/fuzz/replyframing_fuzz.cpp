// Reads fuzzed server replies through the socket download's framing (head
// over several receives, Content-Length, the expected size, small or large
// reads, the body) with a scripted receive function, and checks that no
// receive may write past what it asks for, that nothing is received after the
// connection ended, and that the block handed out never exceeds the caller's
// maximum and holds only bytes the server sent.
//
// Input: byte 0 selects the read size (bit 0), the expected size (bits 1-2:
// none, a small one, the caller's maximum, one more than it) and whether a
// receive fails (bit 3, at the receive numbered by byte 1); bytes 2-3 give
// the caller's maximum (1 to 65536); the rest is the reply, cut into the
// receives at 0x01 bytes.
#include <sanitizer/allocator_interface.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "code/utility/net/socketdownload.h"
#include "tests/fuzz/fuzzinput.h"

namespace {
struct Script {
  std::vector<std::string> chunks;
  std::size_t iNext = 0;
  int iCalls = 0;
  int iFailAt = -1;
  bool bEnded = false;

  int Receive(char* pBuffer, int iMax) {
    FUZZ_CHECK(!bEnded);  // a closed or failed connection is not read again
    FUZZ_CHECK(iMax > 0);
    // The whole room the caller claims must be there.
    pBuffer[0] = '\x5a';
    pBuffer[iMax - 1] = '\x5a';
    if (iCalls++ == iFailAt) {
      bEnded = true;
      return -1;
    }
    while (iNext < chunks.size() && chunks[iNext].empty()) ++iNext;
    if (iNext == chunks.size()) {
      bEnded = true;
      return 0;
    }
    std::string& s = chunks[iNext];
    const std::size_t n = std::min(s.size(), static_cast<std::size_t>(iMax));
    std::memcpy(pBuffer, s.data(), n);
    s.erase(0, n);
    return static_cast<int>(n);
  }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const bool bSmallReads = (data[0] & 1) != 0;
  const int iMaxSize = 1 + (data[2] | (data[3] << 8));
  int iExpected = 0;
  switch ((data[0] >> 1) & 3) {
    case 1: iExpected = 1 + data[1] % 64; break;
    case 2: iExpected = iMaxSize; break;
    case 3: iExpected = iMaxSize + 1; break;
    default: break;
  }
  Script script;
  if (data[0] & 8) script.iFailAt = data[1] % 8;
  std::string sSent;
  for (const std::string& s : FuzzFields(data + 4, size - 4, size)) {
    if (!s.empty()) script.chunks.push_back(s);
    sSent += s;
  }

  std::unique_ptr<char[]> oData(new char[1]);
  int iSize = -1;
  std::atomic<int> iReceived{-1};
  const Utility::DownloadStatus eStatus = Utility::ReadDownloadReply(
      [&script](char* p, int n) { return script.Receive(p, n); }, iExpected, iMaxSize, bSmallReads, oData, &iSize,
      &iReceived);
  const char* pData = oData.get();

  if (iExpected > iMaxSize) FUZZ_CHECK(eStatus == Utility::DownloadStatus::kTooLarge && script.iCalls == 0);
  if (pData != nullptr) {
    FUZZ_CHECK(__sanitizer_get_allocated_size(pData) <= static_cast<std::size_t>(iMaxSize) + 1);
    FUZZ_CHECK(iSize >= 0 && iSize <= iMaxSize);
    FUZZ_CHECK(pData[iSize] == 0);
  }
  if (eStatus == Utility::DownloadStatus::kOk && pData != nullptr) {
    // The body is one run of the bytes the server sent, all of it received.
    FUZZ_CHECK(sSent.find(std::string(pData, static_cast<std::size_t>(iSize))) != std::string::npos);
    FUZZ_CHECK(iReceived == iSize);
    if (iExpected > 0) FUZZ_CHECK(iSize == iExpected);
  }
  if (eStatus == Utility::DownloadStatus::kOk && pData == nullptr) FUZZ_CHECK(iSize == 0);
  return 0;
}

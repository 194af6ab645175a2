#include "code/utility/setupinterface.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace SetupMessage {
namespace {
std::atomic<long> g_iLiveBlocks{0};

int ReadInt(const std::string& sPart) {
  errno = 0;
  char* pEnd = nullptr;
  const long l = std::strtol(sPart.c_str(), &pEnd, 10);
  if (pEnd == sPart.c_str()) return 0;
  if (errno == ERANGE || l > INT_MAX) return l < 0 ? INT_MIN : INT_MAX;
  if (l < INT_MIN) return INT_MIN;
  return static_cast<int>(l);
}
}  // namespace

bool CarriesText(unsigned int uMessage) { return uMessage >= kStatus && uMessage <= kFinal; }

char* NewTextBlock(const std::string& sText) {
  char* pBlock = new char[kTextBlockSize]();
  std::size_t n = sText.size() < kTextBlockSize - 1 ? sText.size() : kTextBlockSize - 1;
  // Never split a UTF-8 sequence when cutting.
  if (n < sText.size()) {
    while (n > 0 && (static_cast<unsigned char>(sText[n]) & 0xC0) == 0x80) --n;
  }
  std::memcpy(pBlock, sText.data(), n);
  ++g_iLiveBlocks;
  return pBlock;
}

void FreeTextBlock(std::uintptr_t wParam) {
  if (wParam == 0) return;
  delete[] reinterpret_cast<char*>(wParam);
  --g_iLiveBlocks;
}

long LiveTextBlocks() { return g_iLiveBlocks.load(); }

std::string ReadTextBlock(std::uintptr_t wParam) {
  if (wParam == 0) return std::string();
  const char* p = reinterpret_cast<const char*>(wParam);
  std::size_t n = 0;
  while (n < kTextBlockSize - 1 && p[n] != '\0') ++n;
  return std::string(p, n);
}

void ParseProgressText(const std::string& sText, int& iPercent, int& iSpeed, int& iSeconds) {
  const std::size_t first = sText.find(',');
  const std::size_t second = first == std::string::npos ? std::string::npos : sText.find(',', first + 1);
  iPercent = ReadInt(sText.substr(0, first));
  iSpeed = first == std::string::npos ? 0 : ReadInt(sText.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1));
  iSeconds = second == std::string::npos ? 0 : ReadInt(sText.substr(second + 1));
}
}  // namespace SetupMessage

SetupInterface::~SetupInterface() = default;

void SetupInterface::PostToDialog(unsigned int uMessage, std::uintptr_t wParam, std::intptr_t) {
  // Nowhere to deliver: the block would otherwise be lost.
  if (SetupMessage::CarriesText(uMessage)) SetupMessage::FreeTextBlock(wParam);
}

void SetupInterface::PostText(unsigned int uMessage, const std::string& sText) {
  PostToDialog(uMessage, reinterpret_cast<std::uintptr_t>(SetupMessage::NewTextBlock(sText)), 0);
}

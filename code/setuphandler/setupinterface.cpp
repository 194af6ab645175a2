#include "code/setuphandler/setupinterface.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_set>

#include "code/utility/text/asciitext.h"

namespace SetupMessage {
namespace {
// Every block handed out and not yet freed. Any program can post the window
// a message number with any wParam, so a wParam is only ever read or freed
// when it is one of these.
struct LiveBlocks {
  std::mutex oLock;
  std::unordered_set<std::uintptr_t> oBlocks;
};

LiveBlocks& Live() {
  static LiveBlocks* const pLive = new LiveBlocks();  // never destroyed: posts may come late
  return *pLive;
}

// The text of a block known to be live, never reading past its end.
std::string TextOf(std::uintptr_t wParam) {
  const char* p = reinterpret_cast<const char*>(wParam);
  std::size_t n = 0;
  while (n < kTextBlockSize - 1 && p[n] != '\0') ++n;
  return std::string(p, n);
}

int ReadInt(const std::string& sPart) { return Utility::ReadDecimal(sPart.data(), sPart.size()).AsInt(); }
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
  LiveBlocks& o = Live();
  std::lock_guard<std::mutex> lock(o.oLock);
  o.oBlocks.insert(reinterpret_cast<std::uintptr_t>(pBlock));
  return pBlock;
}

bool TakeTextBlock(std::uintptr_t wParam, std::string* pText) {
  LiveBlocks& o = Live();
  std::lock_guard<std::mutex> lock(o.oLock);
  if (o.oBlocks.erase(wParam) == 0) return false;
  if (pText != nullptr) *pText = TextOf(wParam);
  delete[] reinterpret_cast<char*>(wParam);
  return true;
}

void FreeTextBlock(std::uintptr_t wParam) { TakeTextBlock(wParam, nullptr); }

long LiveTextBlocks() {
  LiveBlocks& o = Live();
  std::lock_guard<std::mutex> lock(o.oLock);
  return static_cast<long>(o.oBlocks.size());
}

std::string ReadTextBlock(std::uintptr_t wParam) {
  LiveBlocks& o = Live();
  std::lock_guard<std::mutex> lock(o.oLock);
  return o.oBlocks.count(wParam) != 0 ? TextOf(wParam) : std::string();
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

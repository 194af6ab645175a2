#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Worker threads never touch the progress window; they post it messages
// through SetupInterface, which the application object implements.
namespace SetupMessage {
constexpr unsigned int kUser = 1024;                // WM_USER
constexpr unsigned int kStatus = kUser + 5015;      // 6039 text: status only
constexpr unsigned int kDownload = kUser + 5016;    // 6040 text: download started, progress layout
constexpr unsigned int kProgress = kUser + 5017;    // 6041 text: "percent,kbps,seconds"
constexpr unsigned int kFinal = kUser + 5018;       // 6042 text: final status
constexpr unsigned int kSetupFailed = kUser + 5019; // 6043 no text: setup could not start

constexpr std::size_t kTextBlockSize = 512;  // text of at most 511 bytes plus terminator

// 6039 to 6042 carry a text block in wParam; 6043 carries nothing.
bool CarriesText(unsigned int uMessage);

// A heap block of kTextBlockSize bytes holding sText, cut at a character
// boundary to fit, and noted in the process-wide set of live blocks.
// Released only with TakeTextBlock or FreeTextBlock.
char* NewTextBlock(const std::string& sText);
// For a live block: gives its text (when pText is not null), frees it and
// returns true. Anything else (a block already freed, a number another
// program posted) is neither read nor freed: false.
bool TakeTextBlock(std::uintptr_t wParam, std::string* pText);
// TakeTextBlock without the text.
void FreeTextBlock(std::uintptr_t wParam);
// Blocks allocated and not yet freed, process-wide (tests check for leaks).
long LiveTextBlocks();
// The text of a live block, never reading past its end; empty for anything
// that is not a live block.
std::string ReadTextBlock(std::uintptr_t wParam);

// Splits "percent,kbps,seconds" at the first two commas and reads each part
// as a decimal integer; text that is not a number reads as 0.
void ParseProgressText(const std::string& sText, int& iPercent, int& iSpeed, int& iSeconds);
}  // namespace SetupMessage

class SetupInterface {
 public:
  virtual ~SetupInterface();

  // Posts asynchronously to the progress window and never waits. For the
  // text messages wParam is a block from NewTextBlock whose ownership passes
  // with the call: the window frees what it receives, and whatever cannot be
  // delivered is freed here. This base version delivers nothing.
  virtual void PostToDialog(unsigned int uMessage, std::uintptr_t wParam, std::intptr_t lParam);

  // Puts sText into a new block and posts it with uMessage (6039 to 6042).
  void PostText(unsigned int uMessage, const std::string& sText);
};

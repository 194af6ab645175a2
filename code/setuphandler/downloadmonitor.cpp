#include "code/setuphandler/downloadmonitor.h"

#include <cstdio>

#include "code/utility/log/logsink.h"

namespace DownloadMonitor {
namespace {
const char kFunction[] = "SetupHandler::Download";
const char kSource[] = "code/setuphandler/setuphandler";

// Differences of the 32-bit millisecond count survive its wrap.
std::int64_t Since(int iNow, int iThen) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(iNow) - static_cast<std::uint32_t>(iThen));
}
}  // namespace

int Percent(int iReceived, int iDownloadSize) {
  if (iDownloadSize <= 0) return 0;
  // Whole-number arithmetic: single precision would show 100 while bytes are still missing.
  return static_cast<int>(static_cast<std::int64_t>(iReceived) * 100 / iDownloadSize);
}

int AverageKbps(std::int64_t iBytes, int iElapsedMs) {
  return static_cast<int>(iBytes * 8 / (iElapsedMs > 0 ? iElapsedMs : 1));
}

std::string ProgressText(int iPercent, int iKbps, int iRemainingSeconds) {
  char sText[64];
  std::snprintf(sText, sizeof(sText), "%d,%d,%d", iPercent, iKbps, iRemainingSeconds);
  return sText;
}

std::string SummaryText(const std::string& sClientName, int iAverageKbps, int iSeconds) {
  char sText[512];
  std::snprintf(sText, sizeof(sText), "Setup %s ...\n\nSummary - average speed: %d kbps, total time: %d seconds",
                sClientName.c_str(), iAverageKbps, iSeconds);
  return sText;
}

Result Watch(Hooks& hooks, int iDownloadSize, int iTimeoutSeconds, int* piNumberOfTry, int iStartReceived) {
  int iTick = 1;
  int iLastReceived = iStartReceived;
  std::int64_t iSpeed = 0;      // bytes per millisecond
  std::int64_t iRemaining = 0;  // seconds
  const int iStart = hooks.GetMilliseconds();
  int iLastSample = iStart;
  hooks.Sleep(kSampleMs);
  const std::int64_t iWallStart = hooks.WallSeconds();

  Outcome outcome = Outcome::kFinished;
  if (!hooks.IsDone()) {
    for (;;) {
      const int iReceived = hooks.GetReceived();
      const int iPercent = Percent(iReceived, iDownloadSize);
      if (iTick >= kSamplesPerFigure) {
        const int iNow = hooks.GetMilliseconds();
        const std::int64_t iSampleMs = Since(iNow, iLastSample);
        const std::int64_t iTotalMs = Since(iNow, iStart);
        iSpeed = (iReceived - iLastReceived) / (iSampleMs > 0 ? iSampleMs : 1);
        const std::int64_t iAverage = (iReceived - iStartReceived) / (iTotalMs > 0 ? iTotalMs : 1);
        if (iAverage > 0) iRemaining = ((iDownloadSize - iReceived) / 1000) / iAverage;
        iTick = 0;
        iLastReceived = iReceived;
        iLastSample = iNow;
      }
      hooks.PostProgress(ProgressText(iPercent, static_cast<int>(iSpeed * 8), static_cast<int>(iRemaining)));
      hooks.Sleep(kSampleMs);
      ++iTick;
      if (hooks.WallSeconds() - iWallStart > iTimeoutSeconds) {
        ++*piNumberOfTry;
        if (*piNumberOfTry >= kMaxTimedOutTries) {
          QV_LOG(kFunction, 0, kSource, "Download has exchaused manay failed tries: iNumberOfTry = %d. Now exits",
                 *piNumberOfTry);
          outcome = Outcome::kExhausted;
        } else {
          QV_LOG(kFunction, 0, kSource, "Download experiences timeout");
          outcome = Outcome::kTimedOut;
        }
        break;
      }
      if (hooks.IsDone()) break;
    }
  }
  const std::int64_t iElapsed = Since(hooks.GetMilliseconds(), iStart);
  return {outcome, iElapsed > 0 ? static_cast<int>(iElapsed) : 1};
}

}  // namespace DownloadMonitor

#pragma once
#include <cstdint>
#include <string>

// Watching one download attempt from the setup thread: progress every 60 ms,
// speed and time remaining recomputed every 16 samples, the time-out and the
// end after too many timed-out attempts. Platform-neutral: the clock, the
// sleep, the received count and the window are reached through Hooks.
namespace DownloadMonitor {

constexpr int kSampleMs = 60;           // one progress message per sample
constexpr int kSamplesPerFigure = 16;   // speed and remaining time every 16 samples
constexpr int kMaxTimedOutTries = 1000;

struct Hooks {
  virtual ~Hooks() = default;
  virtual int GetMilliseconds() = 0;        // monotonic, wraps like a 32-bit count
  virtual void Sleep(int iMilliseconds) = 0;
  virtual std::int64_t WallSeconds() = 0;   // calendar time
  virtual int GetReceived() = 0;
  virtual bool IsDone() = 0;
  virtual void PostProgress(const std::string& sText) = 0;  // "%d,%d,%d"
};

enum class Outcome {
  kFinished,   // the downloader is done (complete or not)
  kTimedOut,   // the attempt ran past the time-out
  kExhausted,  // the thousandth timed-out attempt: the process is to end
};

struct Result {
  Outcome outcome;
  int iElapsedMs;  // from the start of the attempt, at least 1
};

// Percent done, truncated.
int Percent(int iReceived, int iDownloadSize);
// Average speed in kbit/s of iBytes over iElapsedMs (a zero time counts as 1 ms).
int AverageKbps(std::int64_t iBytes, int iElapsedMs);
std::string ProgressText(int iPercent, int iKbps, int iRemainingSeconds);
std::string SummaryText(const std::string& sClientName, int iAverageKbps, int iSeconds);

// Watches one attempt. piNumberOfTry counts timed-out attempts across calls.
// An attempt that resumes a broken one starts with iStartReceived bytes:
// its percentage goes on from there, its speed and the time remaining count
// only the bytes it brings.
Result Watch(Hooks& hooks, int iDownloadSize, int iTimeoutSeconds, int* piNumberOfTry, int iStartReceived = 0);

}  // namespace DownloadMonitor

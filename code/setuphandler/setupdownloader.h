#pragma once
#include <atomic>

#include "code/utility/system/mythread.h"
#include "code/utility/text/limits.h"

class HLib;

// One attempt at receiving the client package, on its own thread. Each
// attempt has its own transfer object and buffer, so a request of an
// abandoned (timed-out) attempt that is still running can never write into
// the buffer or the received count of a newer one.
class SetupDownloader : public MyThread {
 public:
  SetupDownloader();
  // Only for an attempt whose thread has ended (see HasEnded).
  ~SetupDownloader() override;

  // Fetches sTempURL into a new buffer of m_iExpectedReceiveSize + 1 bytes.
  void Run() override;
  // Bytes received so far by this attempt.
  int GetReceived() const;
  // True when the thread has returned from Run (or never started).
  bool HasEnded() const;

  char m_sAccountServerName[Limits::kValue];
  int m_iAccountServerPort;
  int m_iExpectedReceiveSize;
  std::atomic<bool> m_bDone;
  char* m_pDownloadBuffer;
  char sTempURL[Limits::kPath];

 private:
  HLib* m_pHLib;
};

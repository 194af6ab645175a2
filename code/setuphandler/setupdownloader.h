#pragma once
#include <atomic>
#include <memory>

#include "code/utility/system/mythread.h"
#include "code/utility/text/limits.h"

class HLib;
class PackageFile;

// One attempt at receiving the client package, on its own thread, writing
// through the package file's sink of this attempt. Each attempt has its own
// transfer object, so a request of an abandoned (timed-out) attempt that is
// still running can never touch the received count of a newer one, and the
// package file refuses its writes once the newer attempt has started.
class SetupDownloader : public MyThread {
 public:
  SetupDownloader();
  // Only for an attempt whose thread has ended (see HasEnded).
  ~SetupDownloader() override;

  // Fetches sTempURL (m_iExpectedReceiveSize bytes) into m_pPackage as
  // attempt m_iAttempt.
  void Run() override;
  // Bytes of the package held so far (a resumed attempt starts above 0:
  // SetReceived before Start).
  int GetReceived() const;
  void SetReceived(int iHeld);
  // True when the thread has returned from Run (or never started).
  bool HasEnded() const;

  char m_sAccountServerName[Limits::kValue];
  int m_iAccountServerPort;
  int m_iExpectedReceiveSize;
  std::atomic<bool> m_bDone;
  std::shared_ptr<PackageFile> m_pPackage;
  int m_iAttempt;
  char sTempURL[Limits::kPath];

 private:
  HLib* m_pHLib;
};

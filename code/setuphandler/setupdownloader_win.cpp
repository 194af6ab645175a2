#include "code/setuphandler/setupdownloader.h"

#include <windows.h>

#include "code/hlib/hlib.h"
#include "code/setuphandler/packagefile.h"
#include "code/utility/log/logsink.h"

namespace {
const char kFunction[] = "SetupDownloader::Run";
const char kSource[] = "code/setuphandler/setupdownloader";
}  // namespace

SetupDownloader::SetupDownloader()
    : m_sAccountServerName{},
      m_iAccountServerPort(8889),
      m_iExpectedReceiveSize(0),
      m_bDone(false),
      m_iAttempt(0),
      sTempURL{},
      m_pHLib(new HLib) {}

SetupDownloader::~SetupDownloader() {
  delete m_pHLib;
}

void SetupDownloader::Run() {
  int iPort = m_iAccountServerPort;
  bool bOk = false;
  if (m_pPackage) {
    m_pHLib->m_bUseMinReadBuffer = true;
    m_pHLib->m_iExpectedReceiveSize = m_iExpectedReceiveSize;
    const std::unique_ptr<RangeResume::ReplySink> pSink = m_pPackage->SinkFor(m_iAttempt);
    bOk = m_pHLib->GetFile(m_sAccountServerName, m_iAccountServerPort, sTempURL, *pSink, &iPort, sizeof(sTempURL));
  }
  if (!bOk) {
    QV_LOG(kFunction, 0, kSource, "GetPagef failed: m_sAccountServerName = %s, m_iAccountServerPort = %d, sTempURL = %s",
           m_sAccountServerName, m_iAccountServerPort, sTempURL);
  } else {
    QV_LOG(kFunction, 0, kSource,
           "GetPagef succeeded: m_sAccountServerName = %s, m_iAccountServerPort = %d, sTempURL = %s, "
           "m_iCurrentlyReceived = %d, m_iExpectedReceiveSize = %d",
           m_sAccountServerName, m_iAccountServerPort, sTempURL, GetReceived(), m_iExpectedReceiveSize);
  }
  m_bDone = true;
}

int SetupDownloader::GetReceived() const { return m_pHLib->m_iCurrentlyReceived; }

void SetupDownloader::SetReceived(int iHeld) { m_pHLib->m_iCurrentlyReceived = iHeld; }

bool SetupDownloader::HasEnded() const {
  return m_hThread == nullptr || WaitForSingleObject(static_cast<HANDLE>(m_hThread), 0) == WAIT_OBJECT_0;
}

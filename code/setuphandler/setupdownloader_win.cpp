#include "code/setuphandler/setupdownloader.h"

#include <windows.h>

#include <new>

#include "code/hlib/hlib.h"
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
      m_pDownloadBuffer(nullptr),
      sTempURL{},
      m_pHLib(new HLib) {}

SetupDownloader::~SetupDownloader() {
  delete m_pHLib;
  delete[] m_pDownloadBuffer;
}

void SetupDownloader::Run() {
  // Owned by this attempt; released with it once its thread has ended.
  m_pDownloadBuffer = new (std::nothrow) char[static_cast<std::size_t>(m_iExpectedReceiveSize) + 1];
  int iPort = m_iAccountServerPort;
  bool bOk = false;
  if (m_pDownloadBuffer != nullptr) {
    m_pHLib->m_bUseMinReadBuffer = true;
    m_pHLib->m_iExpectedReceiveSize = m_iExpectedReceiveSize;
    bOk = m_pHLib->GetPage(m_sAccountServerName, m_iAccountServerPort, sTempURL, m_iExpectedReceiveSize, "",
                           m_pDownloadBuffer, &iPort, sizeof(sTempURL));
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

bool SetupDownloader::HasEnded() const {
  return m_hThread == nullptr || WaitForSingleObject(static_cast<HANDLE>(m_hThread), 0) == WAIT_OBJECT_0;
}

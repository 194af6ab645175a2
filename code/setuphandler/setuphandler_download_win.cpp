#include <windows.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "code/buildflavor.h"
#include "code/hlib/hlib.h"
#include "code/setuphandler/downloadmonitor.h"
#include "code/setuphandler/packagefile.h"
#include "code/setuphandler/setupdownloader.h"
#include "code/setuphandler/setuphandler.h"
#include "code/setuphandler/setupinterface.h"
#include "code/setuphandler/sizequery.h"
#include "code/utility/log/logsink.h"
#include "code/utility/system/milliseconds.h"
#include "code/utility/text/boundedtext.h"
#include "code/utility/text/textconv.h"

namespace {
const char kSource[] = "code/setuphandler/setuphandler";
const char kDownload[] = "SetupHandler::Download";
// The package file logs its failures under the name of the setup step.
const char kProcess[] = "SetupHandler::ProcessDownloadedClient";
// The download is written here beside the package's final name, and renamed
// to it once complete.
const char kPartSuffix[] = ".part";

// The size query goes through a page request of its own (no chunked reading).
class SizeRequester : public SizeQuery::Requester {
 public:
  explicit SizeRequester(const char* sServer) : m_sServer(sServer) {}
  bool GetPage(int iPort, char* sURL, char* pReply, int iMaxLength, int* piUsedPort) override {
    return m_oHLib.GetPage(m_sServer, iPort, sURL, iMaxLength, "", pReply, piUsedPort, 4096);
  }

 private:
  const char* m_sServer;
  HLib m_oHLib;
};

class AttemptHooks : public DownloadMonitor::Hooks {
 public:
  AttemptHooks(SetupDownloader& downloader, SetupInterface* pInterface)
      : m_oDownloader(downloader), m_pInterface(pInterface) {}
  int GetMilliseconds() override { return Utility::GetMilliseconds(); }
  void Sleep(int iMilliseconds) override { ::Sleep(static_cast<DWORD>(iMilliseconds)); }
  std::int64_t WallSeconds() override { return static_cast<std::int64_t>(time(nullptr)); }
  int GetReceived() override { return m_oDownloader.GetReceived(); }
  bool IsDone() override { return m_oDownloader.m_bDone; }
  void PostProgress(const std::string& sText) override {
    if (m_pInterface) m_pInterface->PostText(SetupMessage::kProgress, sText);
  }

 private:
  SetupDownloader& m_oDownloader;
  SetupInterface* m_pInterface;
};

// Attempts given up while their request may still run; released once their
// thread has ended.
std::vector<SetupDownloader*>& Abandoned() {
  static std::vector<SetupDownloader*> v;
  return v;
}

void ReleaseEndedAttempts() {
  auto& v = Abandoned();
  for (auto it = v.begin(); it != v.end();) {
    if ((*it)->HasEnded()) {
      delete *it;
      it = v.erase(it);
    } else {
      ++it;
    }
  }
}

std::wstring Wide(const std::string& s) { return TextConv::Utf8ToWideBounded(s, Limits::kPath); }

// Asks the size of the package (the account server's port may change).
int QueryPackageSize(const char* sServer, int* piPort, int* piUsedPort) {
  SizeRequester requester(sServer);
  return SizeQuery::Query(requester, sServer, piPort, piUsedPort);
}
}  // namespace

// Where the download goes: "PCClient.zip" beside the setup folder in the
// temporary folder, else in the starter's folder. The package arrives in
// "PCClient.zip.part" there and is renamed once complete.
std::unique_ptr<PackageFile::Output> SetupHandler::CreateDownloadFile() {
  std::string sSetupFile = std::string(m_sTempDirectory) + "\\PCClient.zip";
  std::string sSetupDirectory = std::string(m_sTempDirectory) + "\\qv_starter_dir";
  std::unique_ptr<PackageFile::Output> pOutput = CreatePackageOutput(sSetupFile + kPartSuffix);
  if (!pOutput) {
    QV_LOG(kProcess, 0, kSource, "Failed to open file to write: %s%s", sSetupFile.c_str(), kPartSuffix);
    const std::string sCurrent = m_sCurrentDirectory;
    sSetupFile = sCurrent + "\\PCClient.zip";
    sSetupDirectory = sCurrent + (m_bCalledByClientToSyncVersion ? "\\..\\qv_starter_dir" : "\\qv_starter_dir");
    pOutput = CreatePackageOutput(sSetupFile + kPartSuffix);
    if (!pOutput) {
      QV_LOG(kProcess, 0, kSource, "Failed to open file to write: %s%s", sSetupFile.c_str(), kPartSuffix);
      ShowFailure(L"Unable to save the download file", "Unable to save the download file");
      return nullptr;
    }
  }
  if (!Utility::CopyIfFits(m_sSetupFile, sizeof(m_sSetupFile), sSetupFile) ||
      !Utility::CopyIfFits(m_sSetupDirectory, sizeof(m_sSetupDirectory), sSetupDirectory)) {
    pOutput.reset();
    DeleteFileW(Wide(sSetupFile + kPartSuffix).c_str());
    return nullptr;
  }
  return pOutput;
}

bool SetupHandler::Download() {
  QV_LOG(kDownload, 0, kSource, "In Download: m_sClientDirectory = %s", m_sClientDirectory);
  if (m_bClientFilesAvailable) {
    QV_LOG(kDownload, 0, kSource, "Download is not needed");
    // A setup folder that could not be prepared has no installer to start.
    if (!ProcessDownloadedClient()) return false;
    // Nothing else would ever show in the window of this run.
    char sSetup[Limits::kValue];
    snprintf(sSetup, sizeof(sSetup), "Setup %s ...", m_sClientName);
    if (m_pSetupInterface) m_pSetupInterface->PostText(SetupMessage::kFinal, sSetup);
    return true;
  }
  if (m_pSetupInterface) m_pSetupInterface->PostText(SetupMessage::kStatus, "Connecting ...");

  int iUsedPort = m_iAccountServerPort;
  int iDownloadSize = QueryPackageSize(m_sAccountServerName, &m_iAccountServerPort, &iUsedPort);
  if (iDownloadSize < 1) {
    // Without this the window would go on saying "Connecting ..." for ever.
    char sFailed[Limits::kValue];
    snprintf(sFailed, sizeof(sFailed), "Unable to download %s from the server. Please try it again", m_sClientName);
    if (m_pSetupInterface) m_pSetupInterface->PostText(SetupMessage::kFinal, sFailed);
    return false;
  }

  QV_LOG(kDownload, 0, kSource, "iDownloadSize = %d", iDownloadSize);
  std::unique_ptr<PackageFile::Output> pOutput = CreateDownloadFile();
  if (!pOutput) return false;
  // Shared with the attempts: one given up may still be running.
  const auto pPackage = std::make_shared<PackageFile>(std::move(pOutput), iDownloadSize);

  char sText[Limits::kValue];
  snprintf(sText, sizeof(sText), "Downloading %s ...", m_sClientName);
  if (m_pSetupInterface) m_pSetupInterface->PostText(SetupMessage::kDownload, sText);

  const BuildFlavor& flavor = GetBuildFlavor();
  int iNumberOfTry = 0;
  for (;;) {
    const int iHeldBefore = StartAttempt(pPackage, iDownloadSize, iUsedPort);
    SetupDownloader& downloader = *m_pSetupDownloader;
    AttemptHooks hooks(downloader, m_pSetupInterface);
    const DownloadMonitor::Result result =
        DownloadMonitor::Watch(hooks, iDownloadSize, flavor.iDownloadTimeoutSeconds, &iNumberOfTry, iHeldBefore);
    if (result.outcome == DownloadMonitor::Outcome::kExhausted) ExitProcess(0);

    // A resumed attempt's speed is that of its own bytes.
    const int iAverageSpeed = DownloadMonitor::AverageKbps(iDownloadSize - iHeldBefore, result.iElapsedMs);
    // A timed-out attempt is incomplete whatever its count says later.
    const int iReceived = downloader.GetReceived();
    if (result.outcome == DownloadMonitor::Outcome::kFinished && downloader.m_bDone && iReceived == iDownloadSize &&
        pPackage->Held() == iDownloadSize) {
      QV_LOG(kDownload, 0, kSource, "Download is completed: iExpectedDownloadSize = %d, actual received = %d",
             iDownloadSize, iReceived);
      return FinishDownload(*pPackage, iAverageSpeed, result.iElapsedMs);
    }
    QV_LOG(kDownload, 0, kSource, "Filed to complete download: iExpectedDownloadSize = %d, actual received = %d",
           iDownloadSize, iReceived);
    // The rest is asked for at once after an attempt that brought bytes of
    // a reply that can be resumed; a resumed attempt that brought nothing
    // new waits and starts over.
    const bool bProgressed = pPackage->Held() > iHeldBefore;
    if (pPackage->CanResume() && bProgressed && result.outcome == DownloadMonitor::Outcome::kFinished) {
      QV_LOG(kDownload, 0, kSource, "Download resumes from %lld of %d bytes", pPackage->Held(), iDownloadSize);
    } else {
      if (iHeldBefore > 0 && !bProgressed) pPackage->ForgetResume();
      WaitToRetry(*pPackage, &iDownloadSize, &iUsedPort);
    }
    // The new attempt shows its progress again instead of the old failure.
    if (m_pSetupInterface) m_pSetupInterface->PostText(SetupMessage::kDownload, sText);
  }
}

int SetupHandler::StartAttempt(const std::shared_ptr<PackageFile>& pPackage, int iDownloadSize, int iUsedPort) {
  // A new transfer for every attempt: an abandoned one may still be writing.
  if (m_pSetupDownloader != nullptr && m_pSetupDownloader->m_hThread != nullptr) {
    Abandoned().push_back(m_pSetupDownloader);
    m_pSetupDownloader = nullptr;
  }
  ReleaseEndedAttempts();
  if (m_pSetupDownloader == nullptr) m_pSetupDownloader = new SetupDownloader;
  SetupDownloader& downloader = *m_pSetupDownloader;
  snprintf(downloader.sTempURL, sizeof(downloader.sTempURL), "%s?client_type=%d&client=%s", "/as/wapi/get_client",
           0, "pc");
  downloader.m_iExpectedReceiveSize = iDownloadSize;
  Utility::CopyCut(downloader.m_sAccountServerName, sizeof(downloader.m_sAccountServerName), m_sAccountServerName);
  downloader.m_iAccountServerPort = iUsedPort;
  downloader.m_bTimeCritical = false;
  downloader.m_pPackage = pPackage;
  downloader.m_iAttempt = pPackage->NewAttempt();
  const int iHeldBefore = pPackage->CanResume() ? static_cast<int>(pPackage->Held()) : 0;
  downloader.SetReceived(iHeldBefore);
  downloader.Start();
  return iHeldBefore;
}

bool SetupHandler::FinishDownload(PackageFile& package, int iAverageSpeed, int iElapsedMs) {
  if (m_pSetupInterface) {
    m_pSetupInterface->PostText(SetupMessage::kFinal,
                                DownloadMonitor::SummaryText(m_sClientName, iAverageSpeed, iElapsedMs / 1000));
  }
  const std::string sPartFile = std::string(m_sSetupFile) + kPartSuffix;
  if (!package.Close() ||
      !MoveFileExW(Wide(sPartFile).c_str(), Wide(m_sSetupFile).c_str(), MOVEFILE_REPLACE_EXISTING)) {
    QV_LOG(kProcess, 0, kSource, "Failed to write: %s", m_sSetupFile);
    DeleteFileW(Wide(sPartFile).c_str());
    ShowFailure(L"Unable to save the download file", "Unable to save the download file");
    return false;
  }
  return ProcessDownloadedClient();
}

void SetupHandler::WaitToRetry(PackageFile& package, int* piDownloadSize, int* piUsedPort) {
  if (m_pSetupInterface) m_pSetupInterface->PostText(SetupMessage::kFinal, "Download is incomplete. Please try it again");
  Sleep(static_cast<DWORD>(GetBuildFlavor().iDownloadRetryWaitMs));
  if (!package.SizeChanged()) return;
  // The package was replaced by one of another size: its size is asked
  // again, and the whole of it fetched.
  const int iNewSize = QueryPackageSize(m_sAccountServerName, &m_iAccountServerPort, piUsedPort);
  QV_LOG(kDownload, 0, kSource, "iDownloadSize = %d", iNewSize);
  if (iNewSize > 0) {
    *piDownloadSize = iNewSize;
    package.SetSize(iNewSize);
  }
}

// The window keeps saying what went wrong after the message box; otherwise it
// would go on showing the download summary as if the setup went ahead.
void SetupHandler::ShowFailure(const wchar_t* sBox, const char* sText) {
  MessageBoxW(GetActiveWindow(), sBox, L"", MB_OK | MB_SYSTEMMODAL);
  if (m_pSetupInterface) m_pSetupInterface->PostText(SetupMessage::kFinal, sText);
}

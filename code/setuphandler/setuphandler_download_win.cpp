#include <windows.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "code/buildflavor.h"
#include "code/hlib/hlib.h"
#include "code/setuphandler/commandfile.h"
#include "code/setuphandler/downloadmonitor.h"
#include "code/setuphandler/packagefile.h"
#include "code/setuphandler/setupdownloader.h"
#include "code/setuphandler/setuphandler.h"
#include "code/setuphandler/setupinterface.h"
#include "code/setuphandler/sizequery.h"
#include "code/unpackflavor.h"
#include "code/utility/archive/zlibpp.h"
#include "code/utility/log/logsink.h"
#include "code/utility/system/fileutil.h"
#include "code/utility/system/milliseconds.h"
#include "code/utility/text/boundedtext.h"
#include "code/utility/text/textconv.h"

namespace {
const char kSource[] = "code/setuphandler/setuphandler";
const char kDownload[] = "SetupHandler::Download";
const char kProcess[] = "SetupHandler::ProcessDownloadedClient";
// The package member that the installer call starts.
const char kInstallerMember[] = "QVInstaller.exe";
const char kNoSetupFolder[] = "Unable to create a directory to install the downloaded software";
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

void ShowMessage(const wchar_t* sText) { MessageBoxW(GetActiveWindow(), sText, L"", MB_OK | MB_SYSTEMMODAL); }

// The window keeps saying what went wrong after the message box; otherwise it
// would go on showing the download summary as if the setup went ahead.
void ShowFailure(SetupInterface* pInterface, const wchar_t* sBox, const char* sText) {
  ShowMessage(sBox);
  if (pInterface) pInterface->PostText(SetupMessage::kFinal, sText);
}

DWORD Attributes(const std::string& sPath) {
  const std::wstring w = Wide(sPath);
  return w.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(w.c_str());
}

bool FolderExists(const std::string& sPath) {
  const DWORD iAttributes = Attributes(sPath);
  return iAttributes != INVALID_FILE_ATTRIBUTES && (iAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Empties a setup folder and makes sure it exists (one level). A folder that
// is a junction or another link is refused: emptying and filling it would
// work on whatever folder it points to.
bool PrepareFolder(const std::string& sFolder, SetupInterface* pInterface) {
  const DWORD iAttributes = Attributes(sFolder);
  if (iAttributes != INVALID_FILE_ATTRIBUTES && (iAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    QV_LOG(kProcess, 0, kSource, "%s is a reparse point, refused as the setup folder", sFolder.c_str());
    if (pInterface) pInterface->PostText(SetupMessage::kFinal, kNoSetupFolder);
    return false;
  }
  Utility::RemoveAllFile(sFolder.c_str(), "");
  if (FolderExists(sFolder)) return true;
  const std::wstring w = Wide(sFolder);
  if (!w.empty() && CreateDirectoryW(w.c_str(), nullptr)) return true;
  QV_LOG(kProcess, 0, kSource, "Filed to create: %s", sFolder.c_str());
  ShowFailure(pInterface, L"Unable to create a directory to install the downloaded software", kNoSetupFolder);
  return false;
}

// The bounds of an unpacking; for the client package also the installer,
// whose fate decides whether the setup folder is worth starting anything from.
void PrepareUnpacking(CZLib& oZLib, bool bWatchInstaller) {
  PackageArchive::Limits limits;
  limits.iMaxInflatedBytes = GetUnpackByteCap();
  oZLib.SetLimits(limits);
  if (bWatchInstaller) oZLib.WatchMember(kInstallerMember);
}

// An installer member that was held open, refused or missing leaves either
// no installer or an older one in the setup folder: neither may be started.
bool InstallerWritten(bool bWritten, const char* sSetupDirectory) {
  if (!bWritten) {
    QV_LOG(kProcess, 0, kSource, "%s\\%s was not written by this unpacking", sSetupDirectory, kInstallerMember);
  }
  return bWritten;
}

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
      ShowFailure(m_pSetupInterface, L"Unable to save the download file", "Unable to save the download file");
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
  const std::string sPartFile = std::string(m_sSetupFile) + kPartSuffix;

  char sText[Limits::kValue];
  snprintf(sText, sizeof(sText), "Downloading %s ...", m_sClientName);
  if (m_pSetupInterface) m_pSetupInterface->PostText(SetupMessage::kDownload, sText);

  const BuildFlavor& flavor = GetBuildFlavor();
  int iNumberOfTry = 0;
  for (;;) {
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
      if (m_pSetupInterface) {
        m_pSetupInterface->PostText(SetupMessage::kFinal,
                                    DownloadMonitor::SummaryText(m_sClientName, iAverageSpeed, result.iElapsedMs / 1000));
      }
      if (!pPackage->Close() || !MoveFileExW(Wide(sPartFile).c_str(), Wide(m_sSetupFile).c_str(),
                                             MOVEFILE_REPLACE_EXISTING)) {
        QV_LOG(kProcess, 0, kSource, "Failed to write: %s", m_sSetupFile);
        DeleteFileW(Wide(sPartFile).c_str());
        ShowFailure(m_pSetupInterface, L"Unable to save the download file", "Unable to save the download file");
        return false;
      }
      return ProcessDownloadedClient();
    }
    QV_LOG(kDownload, 0, kSource, "Filed to complete download: iExpectedDownloadSize = %d, actual received = %d",
           iDownloadSize, iReceived);
    // The rest is asked for at once after an attempt that brought bytes of
    // a reply that can be resumed; a resumed attempt that brought nothing
    // new waits and starts over.
    const bool bProgressed = pPackage->Held() > iHeldBefore;
    if (pPackage->CanResume() && bProgressed && result.outcome == DownloadMonitor::Outcome::kFinished) {
      QV_LOG(kDownload, 0, kSource, "Download resumes from %lld of %d bytes", pPackage->Held(), iDownloadSize);
      if (m_pSetupInterface) m_pSetupInterface->PostText(SetupMessage::kDownload, sText);
      continue;
    }
    if (iHeldBefore > 0 && !bProgressed) pPackage->ForgetResume();
    if (m_pSetupInterface) m_pSetupInterface->PostText(SetupMessage::kFinal, "Download is incomplete. Please try it again");
    Sleep(static_cast<DWORD>(flavor.iDownloadRetryWaitMs));
    if (pPackage->SizeChanged()) {
      // The package was replaced by one of another size: its size is asked
      // again, and the whole of it fetched.
      const int iNewSize = QueryPackageSize(m_sAccountServerName, &m_iAccountServerPort, &iUsedPort);
      QV_LOG(kDownload, 0, kSource, "iDownloadSize = %d", iNewSize);
      if (iNewSize > 0) {
        iDownloadSize = iNewSize;
        pPackage->SetSize(iNewSize);
      }
    }
    // The new attempt shows its progress again instead of the old failure.
    if (m_pSetupInterface) m_pSetupInterface->PostText(SetupMessage::kDownload, sText);
  }
}

bool SetupHandler::ProcessDownloadedClient() {
  QV_LOG(kProcess, 0, kSource, "Enter ...");
  StopProcess();

  const std::string sCurrent = m_sCurrentDirectory;
  std::string sPrefix;
  if (m_bClientFilesAvailable) {
    if (!VerifyPackage("PCClient") || !VerifyPackage("PCClientAccessory")) return false;
    const std::string sSetupDirectory = sCurrent + "\\qv_starter_dir";
    if (!Utility::CopyIfFits(m_sSetupDirectory, sizeof(m_sSetupDirectory), sSetupDirectory)) return false;
    if (!PrepareFolder(sSetupDirectory, m_pSetupInterface)) return false;
    const std::string sAccessory = sSetupDirectory + "\\Accessory";
    if (!PrepareFolder(sAccessory, m_pSetupInterface)) return false;
    bool bUnpacked = false;
    bool bInstaller = false;
    {
      CZLib oClient;
      PrepareUnpacking(oClient, true);
      bUnpacked = oClient.UnZip("PCClient", m_sSetupDirectory);
      bInstaller = oClient.WatchedMemberWritten();
    }
    {
      CZLib oAccessory;
      PrepareUnpacking(oAccessory, false);
      bUnpacked = oAccessory.UnZip("PCClientAccessory", sAccessory.c_str()) && bUnpacked;
    }
    QV_LOG(kProcess, 0, kSource, "Uncompress %s into %s and %s", m_sSetupFile, m_sSetupDirectory, sAccessory.c_str());
    if (!bUnpacked || !InstallerWritten(bInstaller, m_sSetupDirectory)) return UnpackFailed();

    const std::string sWorkingDirectoryFile = sSetupDirectory + "\\WorkingDirectory.txt";
    QV_LOG(kProcess, 0, kSource, "sWorkingDirectoryFile: %s", sWorkingDirectoryFile.c_str());
    if (!Utility::FileExists(sWorkingDirectoryFile.c_str())) {
      const std::string sUserDefined = sCurrent + "\\WorkingDirectory.txt";
      if (Utility::FileExists(sUserDefined.c_str())) {
        QV_LOG(kProcess, 0, kSource, "sUserDefinedWorkingDirectory %s exists", sUserDefined.c_str());
        Utility::CopyMyFile(sUserDefined.c_str(), sWorkingDirectoryFile.c_str());
      } else {
        const std::wstring w = Wide(sWorkingDirectoryFile);
        std::FILE* pFile = w.empty() ? nullptr : _wfopen(w.c_str(), L"w");
        if (pFile == nullptr) {
          QV_LOG(kProcess, 0, kSource, "Failed to open file to write: %s", sWorkingDirectoryFile.c_str());
        } else {
          fprintf(pFile, "<__WorkingDirectory__>%s\\%s</__WorkingDirectory__>\n", m_sCurrentDirectory, m_sClientName);
          fclose(pFile);
        }
      }
    }
  } else {
    // The download is in m_sSetupFile already (Download).
    if (!VerifyPackage(m_sSetupFile)) return false;
    const std::string sSetupDirectory = m_sSetupDirectory;
    if (!PrepareFolder(sSetupDirectory, m_pSetupInterface)) return false;
    bool bUnpacked = false;
    bool bInstaller = false;
    {
      CZLib oClient;
      PrepareUnpacking(oClient, true);
      bUnpacked = oClient.UnZip(m_sSetupFile, m_sSetupDirectory);
      bInstaller = oClient.WatchedMemberWritten();
    }
    QV_LOG(kProcess, 0, kSource, "Uncompress %s into %s", m_sSetupFile, m_sSetupDirectory);
    if (!bUnpacked || !InstallerWritten(bInstaller, m_sSetupDirectory)) return UnpackFailed();
    const std::string sSourceFile = sSetupDirectory + "\\" + kInstallerMember;
    const std::string sTargetFile = sSetupDirectory + "\\QVLauncher.exe";
    const bool bCopied = Utility::CopyMyFile(sSourceFile.c_str(), sTargetFile.c_str());
    QV_LOG(kProcess, 0, kSource, "copy sSourceFile = %s, sTargetFile = %s", sSourceFile.c_str(), sTargetFile.c_str());
    // The launcher is what a Saltmarsh setup starts: an old one left in place
    // must not stand in for this package's installer.
    if (!bCopied) {
      QV_LOG(kProcess, 0, kSource, "Failed to copy %s to %s", sSourceFile.c_str(), sTargetFile.c_str());
      return UnpackFailed();
    }
  }

  sPrefix = CommandFile::SetupPrefix(m_sSetupDirectory, sCurrent, m_sCurrentFile, m_bClientFilesAvailable);
  // The client must get the whole settings text or none of the new one.
  if (!Utility::CopyIfFits(m_sSetting, sizeof(m_sSetting), sPrefix + m_sSetting)) {
    QV_LOG(kProcess, 0, kSource, "settings text too long for the setup prefix: %d bytes",
           static_cast<int>(sPrefix.size() + strlen(m_sSetting)));
    return false;
  }
  return true;
}

// A package that did not unpack whole leaves a setup folder that would
// install a broken client: the user is told, and no installer is started.
bool SetupHandler::UnpackFailed() {
  QV_LOG(kProcess, 0, kSource, "%s is incomplete, the installer is not started", m_sSetupDirectory);
  char sText[Limits::kValue];
  snprintf(sText, sizeof(sText), "Unable to unpack %s. Please try it again", m_sClientName);
  if (m_pSetupInterface) m_pSetupInterface->PostText(SetupMessage::kFinal, sText);
  return false;
}

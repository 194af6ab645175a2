#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "code/hlib/hlib.h"
#include "code/setuphandler/commandfile.h"
#include "code/setuphandler/setuphandler.h"
#include "code/setuphandler/setupinterface.h"
#include "code/utility/log/logmask.h"
#include "code/utility/log/logsink.h"
#include "code/utility/system/fileutil.h"
#include "code/utility/system/processutil.h"
#include "code/utility/system/scopedhandle_win.h"
#include "code/utility/system/statusfilehandler.h"
#include "code/utility/system/userdirs.h"
#include "code/utility/text/boundedtext.h"
#include "code/utility/text/limits.h"
#include "code/utility/text/tagtext.h"
#include "code/utility/text/textconv.h"

namespace {
const char* const kSource = "code/setuphandler/setuphandler";
const char* const kCommandFile = "rsp1024hcmd.txt";
const char* const kLaunchStartTag = "<__ClientCalledToLaunch__>";
const char* const kLaunchEndTag = "</__ClientCalledToLaunch__>";
// Reply of the installation report, one byte more for the terminator.
const int kReportReplySize = 4096;

}  // namespace

std::string SetupHandler::InformServerOfInstallation() {
  const char* const kFunction = "SetupHandler::InformServerOfInstallation";
  if (m_sStarterSid[0] == '\0' || m_sAccountServerName[0] == '\0') {
    QV_LOG(kFunction, 0, kSource, "Failed: m_sStarterSid = %s, m_sAccountServerName = %s", m_sStarterSid,
           m_sAccountServerName);
    return std::string();
  }
  char sURL[Limits::kCommandLine] = {0};
  Utility::CopyIfFits(sURL, sizeof(sURL), std::string("/as/wapi/ssi?sid=") + m_sStarterSid);

  // A reply may fill the whole reply size; the extra byte keeps it a text.
  std::vector<char> aReply(kReportReplySize + 1, '\0');
  int iPort = m_iAccountServerPort;
  HLib oHLib;
  oHLib.GetPage(m_sAccountServerName, m_iAccountServerPort, sURL, kReportReplySize, "", aReply.data(), &iPort,
                sizeof(sURL));
  aReply[kReportReplySize] = '\0';

  std::string sUserInput;
  TagText::Extract(aReply.data(), "<__UserInput__>", "</__UserInput__>", sUserInput);
  QV_LOG(kFunction, 0, kSource, "sURL = %s, sReturn = %s", sURL, aReply.data());
  return sUserInput;
}

bool SetupHandler::LaunchClient() {
  const char* const kFunction = "SetupHandler::LaunchClient";
  QV_LOG(kFunction, 0, kSource, "Existing version is current, m_bCalledByClientToSyncVersion = %s, m_sClientDirectory = %s",
         m_bCalledByClientToSyncVersion ? "Y" : "N", m_sClientDirectory);
  InformServerOfInstallation();

  // "Y" means the client never confirmed the last launch: install afresh.
  char sLaunched[StatusFileHandler::kValueSize] = {0};
  StatusFileHandler oStatus;
  oStatus.ReadStatus(0, m_sClientDirectory, kLaunchStartTag, kLaunchEndTag, sLaunched, sizeof(sLaunched));
  if (std::strcmp(sLaunched, "Y") == 0) return false;

  std::string sCommand =
      CommandFile::SetupPrefix(m_sSetupDirectory, m_sCurrentDirectory, m_sCurrentFile, !m_bCalledByCommandLine);
  sCommand += "<__SkippedDownload__>Y</__SkippedDownload__>\n";
  sCommand += m_sSetting;
  // A cut command text would hand the client broken settings; install
  // afresh instead.
  if (!Utility::CopyIfFits(m_sSetting, sizeof(m_sSetting), sCommand)) {
    QV_LOG(kFunction, 3, kSource, "command text of %u bytes does not fit %u, not launching",
           static_cast<unsigned>(sCommand.size()), static_cast<unsigned>(sizeof(m_sSetting) - 1));
    return false;
  }

  const std::string sCommandFile = std::string(m_sClientDirectory) + "\\" + kCommandFile;
  if (!Utility::WriteTextFile(sCommandFile, m_sSetting)) {
    QV_LOG(kFunction, 0, kSource, "Failed to open file to write: %s", sCommandFile.c_str());
  }
  QV_LOG(kFunction, 0, kSource, "m_sClientDirectory: %s", m_sClientDirectory);
  oStatus.WriteStatus(0, m_sClientDirectory, kLaunchStartTag, kLaunchEndTag, "Y");

  const std::string sStartProcess =
      "\"" + std::string(m_sClientDirectory) + "\\Quorumvessel.exe\" --program " + sCommandFile;
  const bool bStarted = Utility::StartProcess(sStartProcess.c_str(), m_sClientDirectory, nullptr);
  QV_LOG(kFunction, 0, kSource, "Skip installation --- Utility::StartProcess(%s, %s)",
         LogMask::CommandLine(sStartProcess).c_str(), m_sClientDirectory);
  if (!bStarted) {
    // The marker stays "Y", so the next run installs afresh.
    StartFailed(kFunction, sStartProcess, std::string("Unable to start ") + m_sClientName + ". Please try it again");
    return true;
  }
  EndProcess(0);
  return true;
}

void SetupHandler::CallToInstall() {
  const char* const kFunction = "SetupHandler::CallToInstall";
  QV_LOG(kFunction, 0, kSource, "m_sSetupDirectory: %s", m_sSetupDirectory);
  InformServerOfInstallation();

  const std::string sSetupDirectory = m_sSetupDirectory;
  const std::string sCommandFile = sSetupDirectory + "\\" + kCommandFile;
  if (!Utility::WriteTextFile(sCommandFile, m_sSetting)) {
    QV_LOG(kFunction, 0, kSource, "Failed to open file to write: %s", sCommandFile.c_str());
  }

  if (m_bCalledByClientToSyncVersion) {
    QV_LOG(kFunction, 0, kSource, "m_bCalledByClientToSyncVersion is true");
    // The client's folder choices travel with the new installation.
    const std::string sCacheSource = std::string(m_sCurrentDirectory) + "\\Quorumvessel\\QVServiceCache.txt";
    const std::string sCacheTarget = sSetupDirectory + "\\QVServiceCache.txt";
    CopyFileW(TextConv::Utf8ToWideBounded(sCacheSource, Limits::kPath).c_str(),
              TextConv::Utf8ToWideBounded(sCacheTarget, Limits::kPath).c_str(), FALSE);
    const std::string sWorkingFile = sSetupDirectory + "\\WorkingDirectory.txt";
    if (!Utility::WriteTextFile(sWorkingFile, std::string("<__WorkingDirectory__>") + m_sCurrentDirectory +
                                         "</__WorkingDirectory__>\n")) {
      QV_LOG(kFunction, 0, kSource, "Failed to open file to write: %s", sWorkingFile.c_str());
    }
  } else {
    QV_LOG(kFunction, 0, kSource, "m_bCalledByClientToSyncVersion is false");
  }

  const bool bSaltmarsh = std::strcmp(m_sClientName, "Saltmarsh") == 0;
  const std::string sLauncher = sSetupDirectory + "\\QVLauncher.exe";
  if (bSaltmarsh) {
    QV_LOG(kFunction, 0, kSource, "It is Saltmarsh");
    if (Utility::IsWindowsXP()) {
      QV_LOG(kFunction, 0, kSource, "It is XP");
    } else {
      // The edition's launcher installs a service, so it asks for elevation
      // where the user can grant it.
      const bool bAdmin = Utility::IsUserAdmin();
      const std::wstring wsLauncher = TextConv::Utf8ToWideBounded(sLauncher, Limits::kPath);
      SHELLEXECUTEINFOW oExecute = {};
      oExecute.cbSize = sizeof(oExecute);
      oExecute.fMask = SEE_MASK_NOCLOSEPROCESS;
      oExecute.lpVerb = bAdmin ? L"runas" : L"open";
      oExecute.lpFile = wsLauncher.c_str();
      oExecute.lpParameters = L"";
      oExecute.nShow = SW_HIDE;
      QV_LOG(kFunction, 0, kSource, "ShellExecuteEx() sVerb = %s", bAdmin ? "runas" : "open");
      if (!wsLauncher.empty() && ShellExecuteExW(&oExecute)) {
        ScopedKernelHandle oProcess(oExecute.hProcess);  // not waited for
        QV_LOG(kFunction, 0, kSource, "ShellExecuteEx() sInstaller = %s", sLauncher.c_str());
        return;
      }
      QV_LOG(kFunction, 0, kSource, "ShellExecuteEx() InstallService.exe failed, GetLastError() = %d",
             static_cast<int>(GetLastError()));
    }
  }

  const std::string sDefaultInstaller = sSetupDirectory + "\\QVInstaller.exe";
  std::string sInstaller = sDefaultInstaller;
  if (bSaltmarsh) {
    if (Utility::FileExists(sLauncher)) {
      sInstaller = sLauncher;
    } else {
      QV_LOG(kFunction, 0, kSource, "Failed to find sInstaller = %s", sLauncher.c_str());
    }
  }
  QV_LOG(kFunction, 0, kSource, "sInstaller = %s", sInstaller.c_str());

  // The installer gets the starter's whole command line, as it was received,
  // or what is left of a link too long for it.
  const std::string sStartProcess = InstallerCommandLine(sInstaller, Utility::kProcessCommandLine);
  const bool bStarted = Utility::StartProcess(sStartProcess.c_str(), m_sSetupDirectory, nullptr);
  QV_LOG(kFunction, 0, kSource, "StartProcess(sStartProcess = %s, m_sSetupDirectory = %s)",
         LogMask::CommandLine(sStartProcess).c_str(), m_sSetupDirectory);
  if (!bStarted) {
    StartFailed(kFunction, sStartProcess,
                std::string("Unable to start the ") + m_sClientName + " installer. Please try it again");
  }
}

void SetupHandler::StartFailed(const char* sFunction, const std::string& sStartProcess, const std::string& sText) {
  QV_LOG(sFunction, 3, kSource, "Failed to start %s", LogMask::CommandLine(sStartProcess).c_str());
  if (m_pSetupInterface) m_pSetupInterface->PostText(SetupMessage::kFinal, sText);
}

#include "code/setuphandler/setuphandler.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "code/setuphandler/setupinterface.h"
#include "code/utility/log/logsink.h"
#include "code/utility/protect/accountservers.h"
#include "code/utility/protect/buildsettings.h"
#include "code/utility/protect/queryprotection.h"
#include "code/utility/system/fileutil.h"
#include "code/utility/system/userdirs.h"
#include "code/utility/text/asciitext.h"
#include "code/utility/text/boundedtext.h"
#include "code/utility/text/encoding.h"
#include "code/utility/text/limits.h"
#include "code/utility/text/tagtext.h"
#include "code/utility/text/textconv.h"

namespace {
const char* const kSource = "code/setuphandler/setuphandler";

}  // namespace

SetupHandler::SetupHandler() = default;

SetupHandler::~SetupHandler() = default;

void SetupHandler::Run() {
  if (!InitializeSetup()) {
    QV_LOG("SetupHandler::Run", 0, kSource, "InitializeSetup() failed");
    if (m_pSetupInterface != nullptr) m_pSetupInterface->PostToDialog(SetupMessage::kSetupFailed, 0, 0);
    return;
  }
  QV_LOG("SetupHandler::Run", 0, kSource,
         "m_sAccountServerName = %s, m_iAccountServerPort = %d, m_sClientName = %s, m_sVersion = %s",
         m_sAccountServerName, m_iAccountServerPort, m_sClientName, m_sVersion);
  // Before any request and before the client is handed the settings.
  if (!AccountServerAllowed()) return;
  if (!m_bCalledByClientToSyncVersion) CheckIsVersionIsSynced();
  // LaunchClient ends the process unless the last launch was never confirmed;
  // a client that could not be started ends the run with the window saying so.
  if (m_bIsVersionSynced && LaunchClient()) return;
  if (!Download()) return;
  CallToInstall();
}

bool SetupHandler::AccountServerAllowed() {
  const AccountServers::Decision decision = AccountServers::Check(BuildSettings::AccountServers(), m_sAccountServerName);
  if (decision == AccountServers::Decision::kUnrestricted || decision == AccountServers::Decision::kAllowed) return true;
  QV_LOG("SetupHandler::Run", 0, kSource,
         decision == AccountServers::Decision::kBadSetting
             ? "QV_ACCOUNT_SERVERS of this build cannot be read: account server \"%s\" refused"
             : "account server \"%s\" is not one of QV_ACCOUNT_SERVERS of this build, refused",
         m_sAccountServerName);
  char sText[Limits::kValue];
  snprintf(sText, sizeof(sText), "Unable to use this account server with %s", m_sClientName);
  if (m_pSetupInterface != nullptr) m_pSetupInterface->PostText(SetupMessage::kFinal, sText);
  return false;
}

void SetupHandler::CheckIsVersionIsSynced() {
  const char* const kFunction = "SetupHandler::CheckIsVersionIsSynced";
  struct Candidate {
    std::string sVersionFile;
    std::string sClientDirectory;
  };
  const std::string sClient = m_sClientName;
  const Candidate aCandidates[] = {
      {std::string(m_sUserApplicationDirectory) + "\\" + sClient + "\\Quorumvessel\\version.txt",
       std::string(m_sUserApplicationDirectory) + "\\" + sClient + "\\Quorumvessel"},
      {std::string(m_sTempDirectory) + "\\" + sClient + "\\Quorumvessel\\version.txt",
       std::string(m_sTempDirectory) + "\\" + sClient + "\\Quorumvessel"},
      {std::string(m_sCurrentDirectory) + "\\" + sClient + "\\Quorumvessel\\version.txt",
       std::string(m_sCurrentDirectory) + "\\" + sClient + "\\Quorumvessel"},
      {std::string(m_sCurrentDirectory) + "\\Quorumvessel\\version.txt",
       std::string(m_sCurrentDirectory) + "\\Quorumvessel"},
  };
  for (const Candidate& oCandidate : aCandidates) {
    QV_LOG(kFunction, 0, kSource, "sVersionFileName is %s", oCandidate.sVersionFile.c_str());
    std::string sContent;
    if (!Utility::ReadFileBytes(oCandidate.sVersionFile, sContent)) continue;
    m_bIsClientInstalled = true;
    Utility::CopyIfFits(m_sClientDirectory, sizeof(m_sClientDirectory), oCandidate.sClientDirectory);
    const std::string sExistingVersion = VersionWord(sContent);
    QV_LOG(kFunction, 0, kSource, "sExistingVersion is %s, m_sClientDirectory = %s", sExistingVersion.c_str(),
           m_sClientDirectory);
    m_bIsVersionSynced = sExistingVersion == m_sVersion;
    return;
  }
  QV_LOG(kFunction, 0, kSource, "Failed to find any QV installation");
  m_bIsClientInstalled = false;
  m_bIsVersionSynced = false;
}

bool SetupHandler::InitializeSetup() {
  const char* const kFunction = "SetupHandler::InitializeSetup";
  bool bUserAppDirAccessable = false;
  bool bSystemUser = false;
  char sDocumentsDirectory[Limits::kPath] = {};
  char sCommonDesktopDirectory[Limits::kPath] = {};
  Utility::GetUserDirectory(m_sClientName, m_sCurrentDirectory, m_sCurrentFile, m_sUserApplicationDirectory,
                            m_sTempDirectory, m_sStartMenuDirectory, m_sDesktopDirectory, bUserAppDirAccessable,
                            bSystemUser, sDocumentsDirectory, sCommonDesktopDirectory);

  const std::string sInstallation = std::string(m_sCurrentDirectory) + "\\Quorumvessel";
  std::string sCommandParameterFile;
  const char* sReadLine = nullptr;
  const CalledBy eCalledBy = CalledByFlag(kFunction);
  if (eCalledBy == CalledBy::kDownloader) {
    m_bCalledByClientToSyncVersion = true;
    wchar_t sTemp[Limits::kPath] = {};
    const DWORD iTemp = GetTempPathW(Limits::kPath, sTemp);
    std::string sTempFolder = iTemp > 0 && iTemp < Limits::kPath ? TextConv::WideToUtf8Bounded(sTemp, Limits::kPath) : "";
    if (!sTempFolder.empty() && sTempFolder.back() == '\\') sTempFolder.pop_back();
    sCommandParameterFile = sTempFolder + "\\rsp1024hcmd.txt";
    sReadLine = "Read from sCommandParameterFile %s";
  } else if (eCalledBy == CalledBy::kClientToSync) {
    m_bCalledByClientToSyncVersion = true;
    sCommandParameterFile = sInstallation + "\\rsp1024hcmd.txt";
    QV_LOG(kFunction, 0, kSource, "sCommandParameterFile = %s", sCommandParameterFile.c_str());
    sReadLine = "Read from sCommandParameterFile = %s";
  }
  if (sReadLine != nullptr) {
    std::string sContent;
    if (!Utility::ReadFileBytes(sCommandParameterFile, sContent)) {
      QV_LOG(kFunction, 0, kSource, "failed to load %s", sCommandParameterFile.c_str());
      return false;
    }
    // The settings go back out in a text-mode command file: CR LF read here
    // would come out as CR CR LF.
    sContent = Utility::FoldLineBreaks(sContent);
    ParseSetting(sContent.c_str());
    QV_LOG(kFunction, 0, kSource, sReadLine, sCommandParameterFile.c_str());
  }

  if (m_bCalledByClientToSyncVersion) {
    m_sVersion[0] = '\0';
    const std::string sRefineFile = sInstallation + "\\QVServiceCache.txt";
    QV_LOG(kFunction, 0, kSource, "Refine directory by %s", sRefineFile.c_str());
    std::string sContent;
    if (Utility::ReadFileBytes(sRefineFile, sContent)) {
      // An absent element empties its folder; one too long for it is refused
      // the same way.
      auto refine = [&](const char* sStartTag, const char* sEndTag, char* sMember, std::size_t iSize) {
        std::string sValue;
        TagText::Extract(sContent.c_str(), sStartTag, sEndTag, sValue);
        if (!Utility::CopyIfFits(sMember, iSize, sValue)) {
          sMember[0] = '\0';
          QV_LOG(kFunction, 0, kSource, "Refused %s: %d bytes do not fit %d", sStartTag,
                 static_cast<int>(sValue.size()), static_cast<int>(iSize - 1));
        }
      };
      refine("<__USER_APPLICATION_DIRECTORY__>", "</__USER_APPLICATION_DIRECTORY__>", m_sUserApplicationDirectory,
             sizeof(m_sUserApplicationDirectory));
      refine("<__DESKTOP_DIRECTORY__>", "</__DESKTOP_DIRECTORY__>", m_sDesktopDirectory, sizeof(m_sDesktopDirectory));
      refine("<__START_MENUE_DIRECTORY__>", "</__START_MENUE_DIRECTORY__>", m_sStartMenuDirectory,
             sizeof(m_sStartMenuDirectory));
      QV_LOG(kFunction, 0, kSource,
             "Refined directories:  m_sUserApplicationDirectory = %s; m_sDesktopDirectory = %s, "
             "m_sStartMenuDirectory = %s",
             m_sUserApplicationDirectory, m_sDesktopDirectory, m_sStartMenuDirectory);
    }
    if (!Utility::CopyIfFits(m_sClientDirectory, sizeof(m_sClientDirectory), sInstallation))
      QV_LOG(kFunction, 0, kSource, "Refused m_sClientDirectory: %d bytes do not fit %d",
             static_cast<int>(sInstallation.size()), static_cast<int>(sizeof(m_sClientDirectory) - 1));
    m_bIsClientInstalled = true;
    m_bIsVersionSynced = false;
  }
  return true;
}

bool SetupHandler::LoadSetupConfigure(char* sSetting, std::size_t iSettingSize) {
  const char* const kFunction = "SetupHandler::LoadSetupConfigure";
  const std::string sConfigureFile = "starter.cfg";
  // A configuration that does not fit the settings buffer is refused and
  // the next source is tried.
  auto store = [&](const char* sText, const std::string& sName) {
    if (Utility::CopyIfFits(sSetting, iSettingSize, sText)) return true;
    QV_LOG(kFunction, 0, kSource, "Refused %s: %d bytes do not fit %d", sName.c_str(),
           static_cast<int>(std::strlen(sText)), static_cast<int>(iSettingSize) - 1);
    return false;
  };

  std::size_t iSize = 0;
  std::unique_ptr<char[]> oData;
  Utility::GetFileData(sConfigureFile.c_str(), &iSize, oData);
  if (oData) {
    char* pData = oData.get();
    const std::string sClientFile = Utility::ReplaceAll("PCClient.zip", ".zip", "");
    const std::string sAccessoryFile = Utility::ReplaceAll("PCClientAccessory.zip", ".zip", "");
    const bool bClientFiles = Utility::FileExists(sClientFile.c_str()) && Utility::FileExists(sAccessoryFile.c_str());
    pData[iSize] = '\0';
    Utility::UnmaskText(pData, "M");
    const bool bStored = store(pData, sConfigureFile);
    if (bStored) {
      if (bClientFiles) {
        QV_LOG(kFunction, 0, kSource, "both client files are available");
        m_bClientFilesAvailable = true;
      }
      QV_LOG(kFunction, 0, kSource, "Loaded %s successfully", sConfigureFile.c_str());
      return true;
    }
  }

  const std::string sPlainFile = Utility::ReplaceAll(sConfigureFile, ".cfg", ".txt");
  Utility::GetFileData(sPlainFile.c_str(), &iSize, oData);
  if (oData) {
    const bool bStored = store(oData.get(), sPlainFile);
    if (bStored) {
      m_bClientFilesAvailable = false;
      QV_LOG(kFunction, 0, kSource, "Loaded %s successfully", sPlainFile.c_str());
      return true;
    }
  }

  if (CalledByFlag(kFunction) != CalledBy::kNone) {
    QV_LOG(kFunction, 0, kSource, "Delay to load setting");
    return true;
  }
  return false;
}

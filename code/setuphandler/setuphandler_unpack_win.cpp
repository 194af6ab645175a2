// The unpacking side of a setup: the package (downloaded, or the packages
// beside the starter) is checked and unpacked into the setup folder, and the
// settings get the setup prefix the client reads.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "code/setuphandler/commandfile.h"
#include "code/setuphandler/setuphandler.h"
#include "code/setuphandler/setupinterface.h"
#include "code/unpackflavor.h"
#include "code/utility/archive/zlibpp.h"
#include "code/utility/log/logsink.h"
#include "code/utility/system/fileutil.h"
#include "code/utility/text/boundedtext.h"

namespace {
const char kSource[] = "code/setuphandler/setuphandler";
const char kProcess[] = "SetupHandler::ProcessDownloadedClient";
// The package member that the installer call starts.
const char kInstallerMember[] = "QVInstaller.exe";
const char kNoSetupFolder[] = "Unable to create a directory to install the downloaded software";

DWORD Attributes(const std::string& sPath) {
  const std::wstring w = Utility::ToWidePath(sPath.c_str());
  return w.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(w.c_str());
}

bool FolderExists(const std::string& sPath) {
  const DWORD iAttributes = Attributes(sPath);
  return iAttributes != INVALID_FILE_ATTRIBUTES && (iAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The bounds of an unpacking; for the client package also the installer,
// whose fate decides whether the setup folder is worth starting anything from.
void PrepareUnpacking(CZLib& oZLib, bool bWatchInstaller) {
  PackageArchive::Limits limits;
  limits.iMaxInflatedBytes = GetUnpackByteCap();
  oZLib.SetLimits(limits);
  if (bWatchInstaller) oZLib.WatchMember(kInstallerMember);
}

// Unpacks the client package sArchive into sDestination, watching its
// installer: *pbInstaller tells whether this pass wrote it. True when the
// whole archive was read.
bool UnpackClient(const char* sArchive, const char* sDestination, bool* pbInstaller) {
  CZLib oClient;
  PrepareUnpacking(oClient, true);
  const bool bUnpacked = oClient.UnZip(sArchive, sDestination);
  *pbInstaller = oClient.WatchedMemberWritten();
  return bUnpacked;
}

// An installer member that was held open, refused or missing leaves either
// no installer or an older one in the setup folder: neither may be started.
bool InstallerWritten(bool bWritten, const char* sSetupDirectory) {
  if (!bWritten) {
    QV_LOG(kProcess, 0, kSource, "%s\\%s was not written by this unpacking", sSetupDirectory, kInstallerMember);
  }
  return bWritten;
}

// A package without WorkingDirectory.txt gets the one the user put beside
// the starter, else one that names the client's folder beside it
// (<sCurrent>\<client name>). A file that cannot be written is logged; the
// setup goes on without it.
void WriteWorkingDirectoryFile(const std::string& sSetupDirectory, const std::string& sCurrent,
                               const char* sClientName) {
  const std::string sWorkingDirectoryFile = sSetupDirectory + "\\WorkingDirectory.txt";
  QV_LOG(kProcess, 0, kSource, "sWorkingDirectoryFile: %s", sWorkingDirectoryFile.c_str());
  if (Utility::FileExists(sWorkingDirectoryFile.c_str())) return;
  const std::string sUserDefined = sCurrent + "\\WorkingDirectory.txt";
  if (Utility::FileExists(sUserDefined.c_str())) {
    QV_LOG(kProcess, 0, kSource, "sUserDefinedWorkingDirectory %s exists", sUserDefined.c_str());
    Utility::CopyMyFile(sUserDefined.c_str(), sWorkingDirectoryFile.c_str());
    return;
  }
  const std::wstring w = Utility::ToWidePath(sWorkingDirectoryFile.c_str());
  std::FILE* pFile = w.empty() ? nullptr : _wfopen(w.c_str(), L"w");
  if (pFile == nullptr) {
    QV_LOG(kProcess, 0, kSource, "Failed to open file to write: %s", sWorkingDirectoryFile.c_str());
    return;
  }
  fprintf(pFile, "<__WorkingDirectory__>%s\\%s</__WorkingDirectory__>\n", sCurrent.c_str(), sClientName);
  fclose(pFile);
}
}  // namespace

bool SetupHandler::PrepareSetupFolder(const std::string& sFolder) {
  const DWORD iAttributes = Attributes(sFolder);
  if (iAttributes != INVALID_FILE_ATTRIBUTES && (iAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    QV_LOG(kProcess, 0, kSource, "%s is a reparse point, refused as the setup folder", sFolder.c_str());
    if (m_pSetupInterface) m_pSetupInterface->PostText(SetupMessage::kFinal, kNoSetupFolder);
    return false;
  }
  Utility::RemoveAllFile(sFolder.c_str(), "");
  if (FolderExists(sFolder)) return true;
  const std::wstring w = Utility::ToWidePath(sFolder.c_str());
  if (!w.empty() && CreateDirectoryW(w.c_str(), nullptr)) return true;
  QV_LOG(kProcess, 0, kSource, "Filed to create: %s", sFolder.c_str());
  ShowFailure(L"Unable to create a directory to install the downloaded software", kNoSetupFolder);
  return false;
}

bool SetupHandler::ProcessDownloadedClient() {
  QV_LOG(kProcess, 0, kSource, "Enter ...");
  StopProcess();
  if (!(m_bClientFilesAvailable ? UnpackLocalPackages() : UnpackDownloadedPackage())) return false;

  const std::string sPrefix =
      CommandFile::SetupPrefix(m_sSetupDirectory, m_sCurrentDirectory, m_sCurrentFile, m_bClientFilesAvailable);
  // The client must get the whole settings text or none of the new one.
  if (!Utility::CopyIfFits(m_sSetting, sizeof(m_sSetting), sPrefix + m_sSetting)) {
    QV_LOG(kProcess, 0, kSource, "settings text too long for the setup prefix: %d bytes",
           static_cast<int>(sPrefix.size() + strlen(m_sSetting)));
    return false;
  }
  return true;
}

bool SetupHandler::UnpackLocalPackages() {
  const std::string sCurrent = m_sCurrentDirectory;
  if (!VerifyPackage("PCClient") || !VerifyPackage("PCClientAccessory")) return false;
  const std::string sSetupDirectory = sCurrent + "\\qv_starter_dir";
  if (!Utility::CopyIfFits(m_sSetupDirectory, sizeof(m_sSetupDirectory), sSetupDirectory)) return false;
  if (!PrepareSetupFolder(sSetupDirectory)) return false;
  const std::string sAccessory = sSetupDirectory + "\\Accessory";
  if (!PrepareSetupFolder(sAccessory)) return false;
  bool bInstaller = false;
  bool bUnpacked = UnpackClient("PCClient", m_sSetupDirectory, &bInstaller);
  {
    CZLib oAccessory;
    PrepareUnpacking(oAccessory, false);
    bUnpacked = oAccessory.UnZip("PCClientAccessory", sAccessory.c_str()) && bUnpacked;
  }
  QV_LOG(kProcess, 0, kSource, "Uncompress %s into %s and %s", m_sSetupFile, m_sSetupDirectory, sAccessory.c_str());
  if (!bUnpacked || !InstallerWritten(bInstaller, m_sSetupDirectory)) return UnpackFailed();
  WriteWorkingDirectoryFile(sSetupDirectory, sCurrent, m_sClientName);
  return true;
}

bool SetupHandler::UnpackDownloadedPackage() {
  // The download is in m_sSetupFile already (Download).
  if (!VerifyPackage(m_sSetupFile)) return false;
  const std::string sSetupDirectory = m_sSetupDirectory;
  if (!PrepareSetupFolder(sSetupDirectory)) return false;
  bool bInstaller = false;
  const bool bUnpacked = UnpackClient(m_sSetupFile, m_sSetupDirectory, &bInstaller);
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

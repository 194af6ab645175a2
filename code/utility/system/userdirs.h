#pragma once
#include <cstddef>
#include <string>

namespace Utility {
// Folders of the running starter and of the user. Every text output is a
// 512-byte buffer of the caller; a path that does not fit stays empty.
void GetUserDirectory(const char* sClientName, char* sCurrentDirectory, char* sCurrentFile,
                      char* sUserApplicationDirectory, char* sTempDirectory, char* sStartMenuDirectory,
                      char* sDesktopDirectory, bool& bUserAppDirAccessable, bool& bSystemUser,
                      char* sDocumentsDirectory, char* sCommonDesktopDirectory);
bool IsSystemUser();
bool IsVistaOrLater();
bool IsWindowsXP();
bool IsUserAdmin();

// Rules behind GetUserDirectory, free of system calls.
void ToUpperASCII(char* sText, std::size_t iCount);
// The folder name of the client's installation: the client name, except that
// an empty name and "Loomgather" use "Quorumvessel".
std::string ApplicationFolderName(const std::string& sClientName);
bool IsSystemUserName(const std::string& sUserName);
// Under the system account the application folder is the starter's folder,
// or the folder above a client installation the starter runs from. Gives
// the suffix appended to the starter's folder ("", "\\.." or "\\..\\..").
std::string SystemUserDirectorySuffix(const std::string& sCurrentDirectory,
                                      const std::string& sApplicationFolderName);
// Text before the last backslash; false (and nothing changed) without one.
bool CutAtLastBackslash(const std::string& sPath, std::string& sParent);
std::string RemoveTrailingBackslash(const std::string& sPath);
}  // namespace Utility

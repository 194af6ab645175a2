#pragma once
#include <string>

// The command file hands the settings to the installer or the client: the
// setup elements below come first, the run's settings text follows.
namespace CommandFile {

// The four setup elements, one per line (LF; the file is written in text
// mode, so each becomes CR LF):
//   <__SetupDirectory__>sSetupDirectory</__SetupDirectory__>
//   <__SetupFile__>sStarterFolder\sStarterFile</__SetupFile__>
//   <__SetupFileName__>sStarterFile</__SetupFileName__>
//   <__SetupConfigureFile__>sStarterFolder\starter.cfg</__SetupConfigureFile__>
// followed by <__NeedToRemoveSetup__>Y</__NeedToRemoveSetup__> when the
// starter's files are to be removed after the setup.
std::string SetupPrefix(const std::string& sSetupDirectory, const std::string& sStarterFolder,
                        const std::string& sStarterFile, bool bNeedToRemoveSetup);

}  // namespace CommandFile

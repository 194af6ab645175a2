#include "code/setuphandler/commandfile.h"

namespace CommandFile {

std::string SetupPrefix(const std::string& sSetupDirectory, const std::string& sStarterFolder,
                        const std::string& sStarterFile, bool bNeedToRemoveSetup) {
  std::string s;
  s += "<__SetupDirectory__>" + sSetupDirectory + "</__SetupDirectory__>\n";
  s += "<__SetupFile__>" + sStarterFolder + "\\" + sStarterFile + "</__SetupFile__>\n";
  s += "<__SetupFileName__>" + sStarterFile + "</__SetupFileName__>\n";
  s += "<__SetupConfigureFile__>" + sStarterFolder + "\\starter.cfg</__SetupConfigureFile__>\n";
  if (bNeedToRemoveSetup) s += "<__NeedToRemoveSetup__>Y</__NeedToRemoveSetup__>\n";
  return s;
}

}  // namespace CommandFile

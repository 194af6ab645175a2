#include "code/setuphandler/setupstate.h"

#include <algorithm>
#include <cstring>

SetupState::SetupState()
    : m_sAccountServerName{},
      m_iAccountServerPort(kDefaultAccountServerPort),
      m_sClientName{"Quorumvessel"},
      m_sVersion{},
      m_sSetting{},
      m_sCurrentDirectory{},
      m_sCurrentFile{},
      m_sClientDirectory{},
      m_sSetupFile{},
      m_pSetupDownloader(nullptr),
      m_pSetupInterface(nullptr),
      m_sTempDirectory{},
      m_sSetupDirectory{},
      m_sUserApplicationDirectory{},
      m_sStartMenuDirectory{},
      m_sDesktopDirectory{},
      m_sCommandLine{},
      m_bCalledByClientToSyncVersion(false),
      m_bIsClientInstalled(false),
      m_bIsVersionSynced(false),
      m_bClientFilesAvailable(false),
      m_bCalledByCommandLine(false),
      m_sStarterSid{} {}

bool SetupState::HasRole(const char* sSetting) {
  return sSetting != nullptr && std::strstr(sSetting, "<__Role__>") != nullptr;
}

std::string SetupState::VersionWord(const std::string& sContent) {
  auto isBlank = [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
  };
  std::size_t i = 0;
  while (i < sContent.size() && isBlank(sContent[i])) ++i;
  std::size_t j = i;
  while (j < sContent.size() && sContent[j] != '\0' && !isBlank(sContent[j])) ++j;
  // The word lives in a value buffer; a longer one is cut, which can only
  // make the comparison fail.
  return sContent.substr(i, std::min(j - i, Limits::kValue - 1));
}

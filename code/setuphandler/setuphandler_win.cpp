#include "code/setuphandler/setuphandler.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "code/utility/boundedtext.h"
#include "code/utility/limits.h"
#include "code/utility/logsink.h"
#include "code/utility/textconv.h"

namespace {
const char* const kSource = "code/setuphandler/setuphandler";

// Whole content of a small text file; false when it cannot be opened.
bool ReadSmallFile(const std::string& sPath, std::string& sContent) {
  const std::wstring wPath = TextConv::Utf8ToWideBounded(sPath, Limits::kPath);
  if (wPath.empty()) return false;
  FILE* pFile = _wfopen(wPath.c_str(), L"rb");
  if (pFile == nullptr) return false;
  sContent.clear();
  char aChunk[4096];
  size_t n;
  while ((n = fread(aChunk, 1, sizeof(aChunk), pFile)) > 0) sContent.append(aChunk, n);
  fclose(pFile);
  return true;
}
}  // namespace

SetupHandler::SetupHandler() = default;

SetupHandler::~SetupHandler() = default;

void SetupHandler::Run() {
  if (!InitializeSetup()) {
    QV_LOG("SetupHandler::Run", 0, kSource, "InitializeSetup() failed");
    return;
  }
  if (!m_bCalledByClientToSyncVersion) CheckIsVersionIsSynced();
  // LaunchClient ends the process unless the last launch was never confirmed.
  if (m_bIsVersionSynced) LaunchClient();
  if (!Download()) return;
  CallToInstall();
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
    if (!ReadSmallFile(oCandidate.sVersionFile, sContent)) continue;
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

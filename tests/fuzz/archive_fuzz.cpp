// Unpacks fuzzed archives into a real folder and checks that nothing is ever
// created outside it and that no temporary member file is left behind.
//
// Input: first byte even -> the rest is a raw archive; odd -> the rest is a
// list of name/content pairs (separated by 0xFF, pairs by 0xFE) packed into
// valid records, so names reach the checks past the zlib layer. Bit 1 of the
// first byte unpacks with small limits, which must hold exactly.
#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "code/utility/archive/archive.h"

namespace {
const std::string kWinDest = "C:\\fuzz\\dest";
std::string g_sRoot;  // holds only "dest" between runs
std::string g_sDest;

[[noreturn]] void Fail(const char* sWhat, const std::string& sDetail) {
  std::fprintf(stderr, "ORACLE: %s: %s\n", sWhat, sDetail.c_str());
  std::abort();
}

// Maps a Windows target under kWinDest to the Linux folder, refusing
// anything that would not stay inside it.
std::string MapPath(const std::string& sTarget) {
  if (sTarget.compare(0, kWinDest.size(), kWinDest) != 0) Fail("target outside destination", sTarget);
  std::string sRest = sTarget.substr(kWinDest.size());
  if (!sRest.empty() && sRest[0] != '\\') Fail("target beside destination", sTarget);
  std::string sOut = g_sDest;
  std::size_t i = 0;
  while (i < sRest.size()) {
    while (i < sRest.size() && sRest[i] == '\\') ++i;
    std::size_t j = i;
    while (j < sRest.size() && sRest[j] != '\\') ++j;
    const std::string sSeg = sRest.substr(i, j - i);
    if (sSeg.empty()) break;
    if (sSeg == "." || sSeg == ".." || sSeg.find('/') != std::string::npos || sSeg.find(':') != std::string::npos) {
      Fail("unsafe segment reached the sink", sTarget);
    }
    sOut += "/" + sSeg;
    i = j;
  }
  return sOut;
}

struct DirectorySink : PackageArchive::Sink {
  std::FILE* pFile = nullptr;
  std::string sTarget, sTemp;
  std::uint64_t iWritten = 0;
  std::uint32_t iBegun = 0, iListed = 0;

  int CreateFolders(const std::string& sFolder) override {
    const std::string sPath = MapPath(sFolder);
    std::string sPart;
    for (std::size_t i = g_sDest.size() + 1; i <= sPath.size(); ++i) {
      if (i == sPath.size() || sPath[i] == '/') {
        if (mkdir(sPath.substr(0, i).c_str(), 0700) != 0 && errno != EEXIST) return 3;
      }
    }
    return 0;
  }
  bool BeginFile(const std::string& sWinTarget) override {
    sTarget = MapPath(sWinTarget);
    sTemp = sTarget + PackageArchive::kTempSuffix;
    pFile = std::fopen(sTemp.c_str(), "wb");
    ++iBegun;
    return pFile != nullptr;
  }
  std::size_t WriteFile(const void* p, std::size_t n) override {
    iWritten += n;
    return std::fwrite(p, 1, n, pFile);
  }
  bool CommitFile() override {
    std::fclose(pFile);
    pFile = nullptr;
    if (std::rename(sTemp.c_str(), sTarget.c_str()) != 0) {
      std::remove(sTemp.c_str());
      return false;
    }
    return true;
  }
  void DiscardFile() override {
    std::fclose(pFile);
    pFile = nullptr;
    std::remove(sTemp.c_str());
  }
  void ReportFailed(const std::string&) override { ++iListed; }
};

int CheckAndRemove(const char* sPath, const struct stat*, int iFlag, struct FTW*) {
  const std::string s = sPath;
  const std::string sSuffix = PackageArchive::kTempSuffix;
  if (s.size() >= sSuffix.size() && s.compare(s.size() - sSuffix.size(), sSuffix.size(), sSuffix) == 0) {
    Fail("temporary member file left behind", s);
  }
  if (s != g_sDest) std::remove(sPath);
  return 0;
}

void CheckRoot() {
  DIR* pDir = opendir(g_sRoot.c_str());
  if (!pDir) Fail("root folder vanished", g_sRoot);
  while (dirent* pEntry = readdir(pDir)) {
    const std::string sName = pEntry->d_name;
    if (sName != "." && sName != ".." && sName != "dest") Fail("created beside the destination", sName);
  }
  closedir(pDir);
}

std::string BuildArchive(const std::uint8_t* pData, std::size_t n) {
  if (n == 0 || (pData[0] & 1) == 0) return std::string(reinterpret_cast<const char*>(pData) + (n ? 1 : 0), n ? n - 1 : 0);
  std::string sArchive, sName, sContent;
  bool bInContent = false;
  for (std::size_t i = 1; i <= n; ++i) {
    const bool bEnd = (i == n);
    const char c = bEnd ? '\0' : static_cast<char>(pData[i]);
    if (!bEnd && c == '\xFF') {
      bInContent = true;
    } else if (bEnd || c == '\xFE') {
      sArchive += PackageArchive::PackRecord(sName, sContent, 0, 1);
      sName.clear();
      sContent.clear();
      bInContent = false;
    } else {
      (bInContent ? sContent : sName) += c;
    }
  }
  return sArchive;
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char aTemplate[] = "/tmp/qvfuzz.XXXXXX";
  if (!mkdtemp(aTemplate)) std::abort();
  g_sRoot = aTemplate;
  g_sDest = g_sRoot + "/dest";
  mkdir(g_sDest.c_str(), 0700);
  std::atexit([] {
    rmdir(g_sDest.c_str());
    rmdir(g_sRoot.c_str());
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t n) {
  const std::string sArchive = BuildArchive(pData, n);
  PackageArchive::MemorySource source(sArchive.data(), sArchive.size());
  DirectorySink sink;
  PackageArchive::Limits limits;
  const bool bSmall = n > 0 && (pData[0] & 2) != 0;
  if (bSmall) {
    limits.iMaxInflatedBytes = 20000;
    limits.iMaxMembers = 5;
    limits.iMaxReportLines = 2;
  }
  PackageArchive::Extract(source, kWinDest, sink, limits);
  if (sink.pFile) Fail("member left open", sink.sTemp);
  if (sink.iWritten > limits.iMaxInflatedBytes) Fail("inflated past the limit", std::to_string(sink.iWritten));
  if (sink.iBegun > limits.iMaxMembers) Fail("members past the limit", std::to_string(sink.iBegun));
  if (sink.iListed > limits.iMaxReportLines) Fail("report past the limit", std::to_string(sink.iListed));
  CheckRoot();
  nftw(g_sDest.c_str(), CheckAndRemove, 16, FTW_DEPTH | FTW_PHYS);
  CheckRoot();
  return 0;
}

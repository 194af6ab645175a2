// qvpack publish: a client folder made ready for a static web server.
#include "tools/qvpack/publish.h"

#include <cctype>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "code/utility/text/asciitext.h"

namespace fs = std::filesystem;

namespace QvPublish {
namespace {

// The request paths of the account server, as folders and files under the root.
constexpr const char* kServedFolders[] = {"as", "wapi"};
constexpr char kPackageName[] = "get_client";
constexpr char kSizeName[] = "get_client_size";
constexpr char kReportName[] = "ssi";
constexpr char kReportReply[] = "OK";
constexpr char kFreshSuffix[] = ".new";
constexpr char kTempSuffix[] = ".tmp";
// The starter starts this program from the unpacked package.
constexpr char kInstallerName[] = "QVInstaller.exe";
// The largest size the starter accepts from the size answer.
constexpr std::uintmax_t kMaxPackageSize = 2147483647;
constexpr std::size_t kCompareChunk = 64 * 1024;
constexpr int kMaxLevel = 9;

int Usage() {
  std::fprintf(stderr, "usage: qvpack publish [--level N] [--key <private.pem> --version <client version>] <folder> <root>\n");
  return 2;
}

std::string Text(const fs::path& path) {
  const auto u8 = path.u8string();
  return std::string(u8.begin(), u8.end());
}


// Windows finds the installer whatever the case of its name.
bool HasInstaller(const fs::path& folder) {
  std::error_code ec;
  for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    if (Utility::AsciiEqualNoCase(Text(it->path().filename()), kInstallerName) && it->is_regular_file(ec)) return true;
  }
  return false;
}

bool SameContents(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  const auto iSizeA = fs::file_size(a, ec);
  if (ec) return false;
  const auto iSizeB = fs::file_size(b, ec);
  if (ec || iSizeA != iSizeB) return false;
  std::ifstream inA(a, std::ios::binary), inB(b, std::ios::binary);
  if (!inA || !inB) return false;
  std::vector<char> bufferA(kCompareChunk), bufferB(kCompareChunk);
  while (inA && inB) {
    inA.read(bufferA.data(), static_cast<std::streamsize>(bufferA.size()));
    inB.read(bufferB.data(), static_cast<std::streamsize>(bufferB.size()));
    if (inA.gcount() != inB.gcount() ||
        std::memcmp(bufferA.data(), bufferB.data(), static_cast<std::size_t>(inA.gcount())) != 0) {
      return false;
    }
  }
  return inA.eof() && inB.eof();
}

// Static servers make the package's ETag and Last-Modified from its size and
// its modification time in whole seconds. A package replaced within the same
// second by one of the same size would keep the old validators, and a
// download resumed across the replacement would join the two packages. So
// the new file is dated at least a second after the one it replaces.
bool DateAfter(const fs::path& fresh, const fs::path& old) {
  std::error_code ec;
  const auto oldTime = fs::last_write_time(old, ec);
  if (ec) return true;  // nothing to replace
  const auto freshTime = fs::last_write_time(fresh, ec);
  if (ec) return false;
  const auto earliest = oldTime + std::chrono::seconds(1);
  if (freshTime >= earliest) return true;
  fs::last_write_time(fresh, earliest, ec);
  return !ec;
}

// Written under a temporary name and renamed, so a server never serves half of it.
bool WriteWhole(const fs::path& path, const std::string& sText) {
  const fs::path temp = path.string() + kTempSuffix;
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(sText.data(), static_cast<std::streamsize>(sText.size()));
    out.close();
    if (!out) {
      std::fprintf(stderr, "qvpack: cannot write %s\n", Text(temp).c_str());
      return false;
    }
  }
  std::error_code ec;
  fs::rename(temp, path, ec);
  if (ec) {
    std::fprintf(stderr, "qvpack: cannot rename to %s: %s\n", Text(path).c_str(), ec.message().c_str());
    fs::remove(temp, ec);
    return false;
  }
  return true;
}

// What --key and --version ask for; empty key: the package goes out unsigned.
struct Signing {
  std::string sKey;
  std::string sVersion;
  SignFunction sign = nullptr;
};

int Publish(const fs::path& folder, const fs::path& root, int iLevel, PackFunction pack, const Signing& signing) {
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    std::fprintf(stderr, "qvpack: not a folder: %s\n", Text(folder).c_str());
    return 1;
  }
  if (!HasInstaller(folder)) {
    std::fprintf(stderr, "qvpack: no %s at the top of %s: the starter would have nothing to start\n", kInstallerName,
                 Text(folder).c_str());
    return 1;
  }
  fs::path served = root;
  for (const char* sPart : kServedFolders) served /= sPart;
  fs::create_directories(served, ec);
  if (ec) {
    std::fprintf(stderr, "qvpack: cannot create %s: %s\n", Text(served).c_str(), ec.message().c_str());
    return 1;
  }
  const fs::path package = served / kPackageName;
  const fs::path fresh = served / (std::string(kPackageName) + kFreshSuffix);
  if (pack(folder, fresh, iLevel) != 0) return 1;
  // Signed before anything is served: a package whose signing fails is never published.
  if (!signing.sKey.empty()) {
    std::string sSummary, sError;
    if (!signing.sign(Text(fresh), signing.sKey, signing.sVersion, &sSummary, &sError)) {
      std::fprintf(stderr, "qvpack: %s\n", sError.c_str());
      fs::remove(fresh, ec);
      return 1;
    }
    std::printf("signed: %s\n", sSummary.c_str());
  }

  const std::uintmax_t iSize = fs::file_size(fresh, ec);
  if (ec || iSize > kMaxPackageSize) {
    if (ec) {
      std::fprintf(stderr, "qvpack: cannot read %s: %s\n", Text(fresh).c_str(), ec.message().c_str());
    } else {
      std::fprintf(stderr, "qvpack: the package has %ju bytes; the starter takes at most %ju\n", iSize,
                   kMaxPackageSize);
    }
    fs::remove(fresh, ec);
    return 1;
  }
  // The same bytes again keep the served file and its validators, so
  // downloads resumed across the republication stay valid.
  const bool bChanged = !SameContents(fresh, package);
  if (bChanged) {
    if (!DateAfter(fresh, package)) {
      std::fprintf(stderr, "qvpack: cannot date %s after %s\n", Text(fresh).c_str(), Text(package).c_str());
      fs::remove(fresh, ec);
      return 1;
    }
    fs::rename(fresh, package, ec);
    if (ec) {
      std::fprintf(stderr, "qvpack: cannot rename to %s: %s\n", Text(package).c_str(), ec.message().c_str());
      fs::remove(fresh, ec);
      return 1;
    }
  } else {
    fs::remove(fresh, ec);
  }
  // The size answer follows the package it describes.
  if (!WriteWhole(served / kSizeName, "<__ClientSize__>" + std::to_string(iSize) + "</__ClientSize__>")) return 1;
  // An operator's own report answer (with a user input, say) is kept.
  if (!fs::exists(served / kReportName, ec) && !WriteWhole(served / kReportName, kReportReply)) return 1;
  std::printf("%s %s (%ju bytes)\n", bChanged ? "published" : "unchanged", Text(package).c_str(), iSize);
  return 0;
}

}  // namespace

int Run(int argc, char** argv, PackFunction pack, SignFunction sign) {
  int iLevel = 6;
  Signing signing;
  signing.sign = sign;
  int i = 2;
  // Options, each at most once, before the folder and the root.
  while (argc > i + 2 && argv[i][0] == '-' && argv[i][1] == '-') {
    const std::string sOption = argv[i];
    const char* sValue = argv[i + 1];
    if (sOption == "--level" && iLevel == 6) {
      char* pEnd = nullptr;
      const long iValue = std::strtol(sValue, &pEnd, 10);
      if (*sValue == '\0' || *pEnd != '\0' || iValue < 0 || iValue > kMaxLevel) return Usage();
      iLevel = static_cast<int>(iValue);
    } else if (sOption == "--key" && signing.sKey.empty() && *sValue != '\0') {
      signing.sKey = sValue;
    } else if (sOption == "--version" && signing.sVersion.empty() && *sValue != '\0') {
      signing.sVersion = sValue;
    } else {
      return Usage();
    }
    i += 2;
  }
  if (argc != i + 2) return Usage();
  // A signature names the version it installs: the two come together.
  if (signing.sKey.empty() != signing.sVersion.empty()) return Usage();
  if (!signing.sKey.empty() && sign == nullptr) {
    std::fprintf(stderr, "qvpack: publish --key needs OpenSSL: use the Linux build of qvpack\n");
    return 2;
  }
  return Publish(fs::u8path(argv[i]), fs::u8path(argv[i + 1]), iLevel, pack, signing);
}

}  // namespace QvPublish

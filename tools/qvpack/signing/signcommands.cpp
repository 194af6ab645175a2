#include "tools/qvpack/signing/signcommands.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <vector>

#include "code/utility/archive/archive.h"
#include "code/utility/protect/packagesignature.h"
#include "code/utility/system/scopedhandle.h"
#include "tools/qvpack/signing/opensslcrypto.h"

namespace fs = std::filesystem;
using namespace PackageSignature;

namespace SigningCommands {
namespace {

constexpr char kPrivateKeyFile[] = "signing-key.pem";
constexpr char kPublicKeyFile[] = "signing-key.pub";
constexpr std::size_t kCopyChunk = 1 << 16;
// name length, name, data length, mask
constexpr std::size_t kMemberHeader = 4 + sizeof(kMemberName) + 4 + 2;

int Usage() {
  std::fprintf(stderr,
               "usage: qvpack keygen <folder>\n"
               "       qvpack sign <archive> --key <private.pem> --version <client version>\n"
               "       qvpack verify <archive> --public <hex>[,<hex>] [--version <client version>]\n");
  return 2;
}

constexpr char kVersionRule[] = "--version: 1 to 63 printable characters without blanks: ";

int BadVersion(const std::string& sVersion) {
  std::fprintf(stderr, "qvpack: %s%s\n", kVersionRule, sVersion.c_str());
  return 2;
}

// Options after the fixed arguments: "--name value" pairs, each at most once.
bool ReadOptions(int argc, char** argv, int iFirst, std::vector<std::pair<std::string, std::string*>> options) {
  for (int i = iFirst; i < argc; i += 2) {
    bool bKnown = false;
    for (auto& option : options) {
      if (option.first == argv[i] && option.second->empty() && i + 1 < argc && argv[i + 1][0] != '\0') {
        *option.second = argv[i + 1];
        bKnown = true;
      }
    }
    if (!bKnown) return false;
  }
  return true;
}

struct Walk {
  unsigned iMembers = 0;
  bool bLeadingSignature = false;
  std::uint32_t iLeadingDataLength = 0;
  bool bLaterSignature = false;
};

void NoteRecord(const PackageArchive::RecordInfo& info, void* pContext) {
  Walk& walk = *static_cast<Walk*>(pContext);
  const bool bSignature = info.sName == kMemberName;
  if (walk.iMembers == 0 && bSignature) {
    walk.bLeadingSignature = true;
    walk.iLeadingDataLength = info.iDataLength;
  } else if (bSignature) {
    walk.bLaterSignature = true;
  }
  ++walk.iMembers;
}

std::string Utc(std::uint64_t iSeconds) {
  const std::time_t t = static_cast<std::time_t>(iSeconds);
  std::tm tm;
  char s[64];
  if (!gmtime_r(&t, &tm) || std::strftime(s, sizeof(s), "%Y-%m-%d %H:%M:%S UTC", &tm) == 0) return "?";
  return s;
}

int Keygen(const std::string& sFolder) {
  std::error_code ec;
  const fs::path folder = fs::u8path(sFolder);
  if (!fs::is_directory(folder, ec)) {
    if (!fs::create_directories(folder, ec) || ec) {
      std::fprintf(stderr, "qvpack: cannot create %s: %s\n", sFolder.c_str(), ec.message().c_str());
      return 1;
    }
    fs::permissions(folder, fs::perms::owner_all, ec);
  }
  const fs::path privatePath = folder / kPrivateKeyFile;
  const fs::path publicPath = folder / kPublicKeyFile;
  for (const auto& p : {privatePath, publicPath}) {
    if (fs::exists(fs::symlink_status(p, ec))) {
      std::fprintf(stderr, "qvpack: %s exists; a key is never overwritten\n", p.u8string().c_str());
      return 1;
    }
  }
  OpensslCrypto::PrivateKey key;
  std::string sError;
  PublicKey publicKey;
  if (!key.Generate(&sError) || !key.PublicKeyOf(&publicKey) || !key.SaveNew(privatePath.string(), &sError)) {
    std::fprintf(stderr, "qvpack: %s\n", sError.empty() ? "cannot make a key" : sError.c_str());
    return 1;
  }
  const std::string sHex = PublicKeyHex(publicKey);
  std::FILE* pOut = std::fopen(publicPath.string().c_str(), "wx");
  const bool bCreated = pOut != nullptr;
  if (!pOut || std::fprintf(pOut, "%s\n", sHex.c_str()) < 0 || std::fclose(pOut) != 0) {
    std::fprintf(stderr, "qvpack: cannot write %s\n", publicPath.u8string().c_str());
    // No half pair: the next keygen in this folder starts afresh.
    fs::remove(privatePath, ec);
    if (bCreated) fs::remove(publicPath, ec);
    return 1;
  }
  std::uint8_t aId[kKeyIdSize];
  KeyIdOf(publicKey, aId);
  std::printf("private key: %s\npublic key: %s\nkey id: %s\nQV_PACKAGE_PUBLIC_KEYS=%s\n", privatePath.u8string().c_str(),
              publicPath.u8string().c_str(), Hex(aId, kKeyIdSize).c_str(), sHex.c_str());
  return 0;
}

int Sign(const std::string& sPackage, const std::string& sKey, const std::string& sVersion) {
  std::string sSummary, sError;
  if (!SignPackage(sPackage, sKey, sVersion, &sSummary, &sError)) {
    std::fprintf(stderr, "qvpack: %s\n", sError.c_str());
    return 1;
  }
  std::printf("signed %s: %s\n", sPackage.c_str(), sSummary.c_str());
  return 0;
}

int Verify(const std::string& sPackage, const std::string& sPublic, const std::string& sVersion) {
  TrustedKeys keys;
  std::string sError;
  if (!ParsePublicKeyList(sPublic.c_str(), &keys, &sError) || keys.iCount == 0) {
    std::fprintf(stderr, "qvpack: --public: %s\n", sError.empty() ? "no public key" : sError.c_str());
    return 2;
  }
  std::FILE* pIn = std::fopen(sPackage.c_str(), "rb");
  if (!pIn) {
    std::fprintf(stderr, "qvpack: cannot open %s\n", sPackage.c_str());
    return 1;
  }
  OpensslCrypto::Sha256 hasher;
  PackageChecker checker(hasher);
  std::vector<unsigned char> aBuffer(kCopyChunk);
  std::size_t n;
  while ((n = std::fread(aBuffer.data(), 1, aBuffer.size(), pIn)) > 0) checker.Feed(aBuffer.data(), n);
  const bool bReadError = std::ferror(pIn) != 0;
  std::fclose(pIn);
  if (bReadError) {
    std::fprintf(stderr, "qvpack: cannot read %s\n", sPackage.c_str());
    return 1;
  }
  OpensslCrypto::Verifier verifier;
  const Result result = checker.Finish(keys, sVersion.c_str(), verifier);
  if (result.verdict != Verdict::kOk) {
    std::fprintf(stderr, "qvpack: refused: %s\n", Describe(result, sVersion.c_str()).c_str());
    return 1;
  }
  std::printf("%s (%s)\n", Describe(result, sVersion.c_str()).c_str(), Utc(result.statement.iSignedAt).c_str());
  return 0;
}

// The package must be a whole archive with a member to sign, and the
// reserved name may only lead it. Walks its records from where pIn stands;
// false with *pError set otherwise.
bool CheckPackage(std::FILE* pIn, const std::string& sPackage, Walk* pWalk, std::string* pError) {
  std::string sWalkError;
  PackageArchive::FileSource source(pIn);
  if (!PackageArchive::ListRecords(source, &NoteRecord, pWalk, &sWalkError)) {
    *pError = sPackage + " is not a whole package: " + sWalkError;
    return false;
  }
  if (pWalk->bLaterSignature) {
    *pError = sPackage + std::string(" holds a member named ") + kMemberName + " that is not its first";
    return false;
  }
  if (pWalk->iMembers == (pWalk->bLeadingSignature ? 1u : 0u)) {
    *pError = sPackage + " has no member to sign";
    return false;
  }
  return true;
}

// Hashes the package from byte iSkip to its end into the statement's digest
// and byte count; false when it cannot be read or hashed.
bool HashContents(std::FILE* pIn, long iSkip, Statement* pStatement) {
  OpensslCrypto::Sha256 hasher;
  std::vector<unsigned char> aBuffer(kCopyChunk);
  std::size_t n;
  bool bOk = std::fseek(pIn, iSkip, SEEK_SET) == 0;
  while (bOk && (n = std::fread(aBuffer.data(), 1, aBuffer.size(), pIn)) > 0) {
    bOk = hasher.Update(aBuffer.data(), n);
    pStatement->iByteCount += n;
  }
  return bOk && !std::ferror(pIn) && hasher.Finish(pStatement->aSha256);
}

// Writes sMember and the package from byte iSkip on (iByteCount bytes, as
// hashed) to "<package>.tmp", closes the package and puts the new file in
// its place: the signed package replaces the old one only when it is
// complete. False with *pError set (and no .tmp left) otherwise.
bool ReplaceSigned(ScopedStdioFile& in, long iSkip, const std::string& sMember, std::uint64_t iByteCount,
                   const std::string& sPackage, std::string* pError) {
  const std::string sTemp = sPackage + ".tmp";
  std::FILE* pOut = std::fopen(sTemp.c_str(), "wb");
  bool bOk = pOut && std::fseek(in.Get(), iSkip, SEEK_SET) == 0 && !sMember.empty() &&
             std::fwrite(sMember.data(), 1, sMember.size(), pOut) == sMember.size();
  std::vector<unsigned char> aBuffer(kCopyChunk);
  std::size_t n;
  std::uint64_t iCopied = 0;
  while (bOk && (n = std::fread(aBuffer.data(), 1, aBuffer.size(), in.Get())) > 0) {
    bOk = std::fwrite(aBuffer.data(), 1, n, pOut) == n;
    iCopied += n;
  }
  bOk = bOk && !std::ferror(in.Get()) && iCopied == iByteCount;
  in.Reset();
  if (pOut && std::fclose(pOut) != 0) bOk = false;
  std::error_code ec;
  if (bOk) fs::rename(sTemp, sPackage, ec);
  if (!bOk || ec) {
    fs::remove(sTemp, ec);
    *pError = "cannot write " + sTemp;
    return false;
  }
  return true;
}

}  // namespace

bool SignPackage(const std::string& sPackage, const std::string& sKeyPath, const std::string& sVersion,
                 std::string* pSummary, std::string* pError) {
  if (!IsValidVersion(sVersion.c_str())) {
    *pError = kVersionRule + sVersion;
    return false;
  }
  OpensslCrypto::PrivateKey key;
  PublicKey publicKey;
  if (!key.Load(sKeyPath, pError)) return false;
  if (!key.PublicKeyOf(&publicKey)) {
    *pError = "cannot read the public half of " + sKeyPath;
    return false;
  }

  ScopedStdioFile in(std::fopen(sPackage.c_str(), "rb"));
  if (!in) {
    *pError = "cannot open " + sPackage;
    return false;
  }
  Walk walk;
  if (!CheckPackage(in.Get(), sPackage, &walk, pError)) return false;
  // Hash what follows a present signature member.
  const long iSkip = walk.bLeadingSignature ? static_cast<long>(kMemberHeader + walk.iLeadingDataLength) : 0;
  Statement statement;
  if (!HashContents(in.Get(), iSkip, &statement)) {
    *pError = "cannot read and hash " + sPackage;
    return false;
  }
  KeyIdOf(publicKey, statement.aKeyId);
  std::snprintf(statement.sVersion, sizeof(statement.sVersion), "%s", sVersion.c_str());
  statement.iSignedAt = static_cast<std::uint64_t>(std::time(nullptr));
  const std::string sStatement = BuildStatement(statement);
  std::uint8_t aSignature[kSignatureSize];
  if (!key.Sign(sStatement, aSignature, pError)) return false;
  if (!ReplaceSigned(in, iSkip, BuildMember(sStatement, aSignature), statement.iByteCount, sPackage, pError)) {
    return false;
  }
  *pSummary = "key " + Hex(statement.aKeyId, kKeyIdSize) + ", version " + sVersion + ", " +
              std::to_string(statement.iByteCount) + " bytes, sha256 " + Hex(statement.aSha256, kSha256Size);
  return true;
}

int Run(int argc, char** argv) {
  const std::string sCommand = argv[1];
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) return Usage();
  }
  if (sCommand == "keygen") {
    if (argc != 3) return Usage();
    return Keygen(argv[2]);
  }
  if (argc < 3) return Usage();
  std::string sKey, sVersion, sPublic;
  if (sCommand == "sign") {
    if (!ReadOptions(argc, argv, 3, {{"--key", &sKey}, {"--version", &sVersion}}) || sKey.empty() || sVersion.empty())
      return Usage();
    if (!IsValidVersion(sVersion.c_str())) return BadVersion(sVersion);
    return Sign(argv[2], sKey, sVersion);
  }
  if (sCommand == "verify") {
    if (!ReadOptions(argc, argv, 3, {{"--public", &sPublic}, {"--version", &sVersion}}) || sPublic.empty())
      return Usage();
    if (!sVersion.empty() && !IsValidVersion(sVersion.c_str())) return BadVersion(sVersion);
    return Verify(argv[2], sPublic, sVersion);
  }
  return Usage();
}

}  // namespace SigningCommands

#include "code/utility/protect/cngcrypto_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using namespace PackageSignature;

namespace {

// Vectors written by tests/tools/make_signature_vectors.py with hashlib and openssl.
struct Vectors {
  std::map<std::string, PublicKey> keys;
  std::vector<std::vector<std::string>> lines;
};

std::string Unhex(const std::string& s) {
  std::string out;
  if (s == "-") return out;
  for (std::size_t i = 0; i + 1 < s.size(); i += 2) out += static_cast<char>(std::stoi(s.substr(i, 2), nullptr, 16));
  return out;
}

const Vectors& Load() {
  static const Vectors v = [] {
    Vectors out;
    std::ifstream file(std::string(QV_SOURCE_DIR) + "/tests/unit/data/signature_vectors.txt");
    std::string line;
    while (std::getline(file, line)) {
      if (line.empty() || line[0] == '#') continue;
      std::istringstream in(line);
      std::vector<std::string> fields;
      std::string f;
      while (in >> f) fields.push_back(f);
      if (fields[0] == "key") {
        PublicKey k;
        EXPECT_TRUE(ParsePublicKeyHex(fields[2].c_str(), &k)) << line;
        out.keys[fields[1]] = k;
      } else {
        out.lines.push_back(fields);
      }
    }
    return out;
  }();
  return v;
}

std::string DigestHex(const std::string& data, std::size_t chunk) {
  CngCrypto::Sha256 hash;
  for (std::size_t i = 0; i < data.size(); i += chunk) {
    if (!hash.Update(data.data() + i, std::min(chunk, data.size() - i))) return "update failed";
  }
  if (data.empty() && !hash.Update("", 0)) return "update failed";
  std::uint8_t d[kSha256Size];
  if (!hash.Finish(d)) return "finish failed";
  return Hex(d, kSha256Size);
}

}  // namespace

TEST(CngCrypto, LoadsBcryptFromTheSystemFolder) {
  ASSERT_TRUE(CngCrypto::Available());
  const HMODULE hModule = GetModuleHandleW(L"bcrypt.dll");
  ASSERT_NE(hModule, nullptr);
  wchar_t sLoaded[MAX_PATH] = {}, sSystem[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameW(hModule, sLoaded, MAX_PATH), 0u);
  ASSERT_GT(GetSystemDirectoryW(sSystem, MAX_PATH), 0u);
  EXPECT_EQ(_wcsicmp(sLoaded, (std::wstring(sSystem) + L"\\bcrypt.dll").c_str()), 0);
}

TEST(CngCrypto, Sha256MatchesHashlibInAnyChunking) {
  int checked = 0;
  for (const auto& f : Load().lines) {
    if (f[0] != "sha256") continue;
    const std::string data = Unhex(f[1]);
    for (std::size_t chunk : {std::size_t(1), std::size_t(7), std::size_t(64), std::size_t(4096)})
      EXPECT_EQ(DigestHex(data, chunk), f[2]) << data.size() << " bytes by " << chunk;
    ++checked;
  }
  EXPECT_EQ(checked, 12);
  for (const auto& f : Load().lines) {
    if (f[0] != "sha256-repeat") continue;
    const std::string data(std::stoul(f[2]), static_cast<char>(std::stoi(f[1], nullptr, 16)));
    EXPECT_EQ(DigestHex(data, 4096), f[3]);
    EXPECT_EQ(DigestHex(data, data.size()), f[3]);
    ++checked;
  }
  EXPECT_EQ(checked, 13);
}

TEST(CngCrypto, Sha256FinishesOnce) {
  CngCrypto::Sha256 hash;
  std::uint8_t d[kSha256Size];
  ASSERT_TRUE(hash.Update("abc", 3));
  ASSERT_TRUE(hash.Finish(d));
  EXPECT_EQ(Hex(d, kSha256Size), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_FALSE(hash.Finish(d));
  EXPECT_FALSE(hash.Update("abc", 3));
  EXPECT_EQ(hash.Status(), 0);  // refused by the object, not by the system
}

TEST(CngCrypto, VerifiesOpensslSignatures) {
  const std::map<std::string, SignatureResult> expected = {{"valid", SignatureResult::kValid},
                                                           {"invalid", SignatureResult::kInvalid},
                                                           {"key-rejected", SignatureResult::kKeyRejected}};
  int checked = 0;
  for (const auto& f : Load().lines) {
    if (f[0] != "ecdsa") continue;
    const std::string message = Unhex(f[2]);
    const std::string signature = Unhex(f[3]);
    ASSERT_EQ(signature.size(), kSignatureSize);
    CngCrypto::Verifier verifier;
    const SignatureResult r = verifier.Verify(Load().keys.at(f[1]), message.data(), message.size(),
                                              reinterpret_cast<const std::uint8_t*>(signature.data()));
    if (f[4] == "key-rejected" && r == SignatureResult::kInvalid) {
      // Windows refuses a point off the curve when importing it, Wine only
      // when verifying: either way nothing verifies under it.
      EXPECT_EQ(verifier.Status(), static_cast<long>(0xC000A000));
    } else {
      EXPECT_EQ(static_cast<int>(r), static_cast<int>(expected.at(f[4])))
          << checked << ": key " << f[1] << ", " << f[4] << ", status 0x" << std::hex << verifier.Status();
    }
    ++checked;
  }
  EXPECT_EQ(checked, 11);
}

TEST(CngCrypto, ChecksOpensslSignedPackages) {
  const std::map<std::string, Verdict> expected = {
      {"ok", Verdict::kOk},
      {"empty", Verdict::kEmpty},
      {"unsigned", Verdict::kUnsigned},
      {"unknown-key", Verdict::kUnknownKey},
      {"bad-signature", Verdict::kBadSignature},
      {"byte-count", Verdict::kByteCount},
      {"sha256", Verdict::kSha256},
      {"version", Verdict::kVersion},
  };
  TrustedKeys keys;
  keys.aKeys[keys.iCount++] = Load().keys.at("current");
  keys.aKeys[keys.iCount++] = Load().keys.at("next");
  int checked = 0;
  for (const auto& f : Load().lines) {
    if (f[0] != "package") continue;
    const std::string package = Unhex(f[3]);
    const std::string version = f[2] == "-" ? "" : f[2];
    CngCrypto::Sha256 hasher;
    PackageChecker checker(hasher);
    for (std::size_t i = 0; i < package.size(); i += 4096)
      ASSERT_TRUE(checker.Feed(package.data() + i, std::min<std::size_t>(4096, package.size() - i)));
    CngCrypto::Verifier verifier;
    const Result r = checker.Finish(keys, version.c_str(), verifier);
    EXPECT_EQ(static_cast<int>(r.verdict), static_cast<int>(expected.at(f[1])))
        << checked << ": " << f[1] << ": " << Describe(r, version.c_str());
    ++checked;
  }
  EXPECT_EQ(checked, 10);
}

// Not a test: scripts/bench_verify runs it for its figures. A 64 MiB package
// goes through the checker as the starter will feed it (64 KiB at a time):
// SHA-256 of every byte after the signature member and one ECDSA check.
TEST(CngCryptoBench, DISABLED_CheckA64MiBPackage) {
  std::string member;
  for (const auto& f : Load().lines) {
    if (f[0] == "package" && f[1] == "ok" && member.empty()) member = Unhex(f[3]);
  }
  ASSERT_EQ(member.compare(0, 17, std::string("\x0d\0\0\0.qvsignature\0", 17)), 0);
  const std::size_t dataLength = static_cast<unsigned char>(member[17]) | (static_cast<unsigned char>(member[18]) << 8);
  member.resize(23 + dataLength);
  std::string package = member;
  package.resize(member.size() + (std::size_t(64) << 20));
  std::uint32_t x = 12345;
  for (std::size_t i = member.size(); i < package.size(); ++i) {
    x = x * 1103515245u + 12345u;
    package[i] = static_cast<char>(x >> 24);
  }
  TrustedKeys keys;
  keys.aKeys[keys.iCount++] = Load().keys.at("current");
  LARGE_INTEGER frequency, t0, t1;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&t0);
  CngCrypto::Sha256 hasher;
  PackageChecker checker(hasher);
  for (std::size_t i = 0; i < package.size(); i += 65536)
    ASSERT_TRUE(checker.Feed(package.data() + i, std::min<std::size_t>(65536, package.size() - i)));
  CngCrypto::Verifier verifier;
  const Result r = checker.Finish(keys, "", verifier);
  QueryPerformanceCounter(&t1);
  // The statement is genuine but names another payload: every check ran.
  ASSERT_EQ(static_cast<int>(r.verdict), static_cast<int>(Verdict::kByteCount)) << Describe(r, "");
  const double ms = 1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(frequency.QuadPart);
  std::printf("bench cng check of a 64 MiB package: %.0f ms (%.0f MiB/s)\n", ms, 64.0 * 1000.0 / ms);
}

// Fuzzes the signed statement parser and the package checker.
//
// Input: first byte even -> the rest is a statement; a statement that
// parses must come back byte for byte from BuildStatement (one spelling per
// statement). Odd -> the rest is a package, fed whole and again in chunks of
// (first byte / 2 + 1) bytes: both runs must give the same verdict, the
// same bytes to the hasher and a member size within the bound.
#include <cstdint>
#include <cstring>
#include <string>

#include "code/utility/protect/packagesignature.h"
#include "tests/fuzz/fuzzinput.h"

using namespace PackageSignature;

namespace {

struct CountingHasher : Sha256Hasher {
  std::string fed;
  bool Update(const void* p, std::size_t n) override {
    fed.append(static_cast<const char*>(p), n);
    return true;
  }
  bool Finish(std::uint8_t d[kSha256Size]) override {
    std::memset(d, 0, kSha256Size);
    std::uint64_t h = 1469598103934665603ull;  // FNV-1a, enough to tell inputs apart here
    for (unsigned char c : fed) h = (h ^ c) * 1099511628211ull;
    std::memcpy(d, &h, sizeof(h));
    return true;
  }
};

// Accepts every signature, so the checks after it are reached too.
struct AcceptingVerifier : SignatureVerifier {
  SignatureResult Verify(const PublicKey&, const void*, std::size_t n, const std::uint8_t*) override {
    FUZZ_CHECK(n <= kMaxStatementSize);
    return SignatureResult::kValid;
  }
};

Result Check(const uint8_t* data, size_t size, size_t chunk, CountingHasher& hasher, std::size_t* pMember) {
  TrustedKeys keys;
  keys.iCount = 1;
  std::memset(keys.aKeys[0].a, 0, kPublicKeySize);  // key id 0000000000000000
  PackageChecker checker(hasher);
  for (size_t i = 0; i < size; i += chunk) checker.Feed(data + i, size - i < chunk ? size - i : chunk);
  *pMember = checker.MemberBytes();
  AcceptingVerifier verifier;
  return checker.Finish(keys, "5.1.0", verifier);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  ++data;
  --size;
  if ((mode & 1) == 0) {
    Statement st;
    if (ParseStatement(data, size, &st) == StatementError::kOk) {
      const std::string rebuilt = BuildStatement(st);
      FUZZ_CHECK(rebuilt.size() == size && std::memcmp(rebuilt.data(), data, size) == 0);
    }
    return 0;
  }
  CountingHasher whole, chunked;
  std::size_t memberWhole = 0, memberChunked = 0;
  const Result a = Check(data, size, size ? size : 1, whole, &memberWhole);
  const Result b = Check(data, size, static_cast<size_t>(mode / 2) + 1, chunked, &memberChunked);
  FUZZ_CHECK(a.verdict == b.verdict && a.statementError == b.statementError);
  FUZZ_CHECK(whole.fed == chunked.fed && memberWhole == memberChunked);
  FUZZ_CHECK(memberWhole <= 4 + sizeof(kMemberName) + 6 + kMaxMemberDataLength);
  if (memberWhole > 0) {
    FUZZ_CHECK(whole.fed.size() + memberWhole == size);
    FUZZ_CHECK(std::memcmp(whole.fed.data(), data + memberWhole, whole.fed.size()) == 0);
  }
  FUZZ_CHECK(a.iPayloadBytes + memberWhole == size || memberWhole == 0);
  return 0;
}

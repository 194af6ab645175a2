#include "code/utility/protect/packagesignature.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "code/utility/archive/archive.h"
#include "code/utility/protect/sha1.h"

using namespace PackageSignature;

namespace {

// The real SHA-256 and ECDSA come from CNG (tests/win) and OpenSSL
// (tests/tools). Here the checker's logic runs against stand-ins that are
// still sensitive to every byte: the "hash" is SHA-1 padded to 32 bytes,
// and a "signature" is SHA-1 over key and message, so another key or one
// changed byte of the statement fails as a real signature would.
std::string Sha1(const std::string& s) {
  unsigned char d[SHA1Context::kDigestSize];
  SHA1Digest(s.data(), s.size(), d);
  return std::string(reinterpret_cast<char*>(d), sizeof(d));
}

void StandInDigest(const std::string& data, std::uint8_t out[kSha256Size]) {
  std::memset(out, 0, kSha256Size);
  const std::string d = Sha1(data);
  std::memcpy(out, d.data(), d.size());
}

void StandInSign(const PublicKey& key, const std::string& message, std::uint8_t sig[kSignatureSize]) {
  const std::string a = Sha1(std::string(reinterpret_cast<const char*>(key.a), kPublicKeySize) + message);
  const std::string b = Sha1(a + message);
  std::memset(sig, 0, kSignatureSize);
  std::memcpy(sig, a.data(), a.size());
  std::memcpy(sig + 32, b.data(), b.size());
}

struct RecordingHasher : Sha256Hasher {
  std::string fed;
  int updates = 0;
  int finishes = 0;
  int failAfter = -1;  // Update calls that succeed before one fails
  bool Update(const void* p, std::size_t n) override {
    if (failAfter >= 0 && updates >= failAfter) return false;
    ++updates;
    fed.append(static_cast<const char*>(p), n);
    return true;
  }
  bool Finish(std::uint8_t d[kSha256Size]) override {
    ++finishes;
    StandInDigest(fed, d);
    return true;
  }
};

struct StandInVerifier : SignatureVerifier {
  SignatureResult forced = SignatureResult::kValid;  // anything else is returned as it is
  std::vector<std::string> keysAsked;
  std::string lastMessage;
  SignatureResult Verify(const PublicKey& key, const void* p, std::size_t n,
                         const std::uint8_t sig[kSignatureSize]) override {
    keysAsked.push_back(PublicKeyHex(key));
    lastMessage.assign(static_cast<const char*>(p), n);
    if (forced != SignatureResult::kValid) return forced;
    std::uint8_t expected[kSignatureSize];
    StandInSign(key, lastMessage, expected);
    return std::memcmp(expected, sig, kSignatureSize) == 0 ? SignatureResult::kValid : SignatureResult::kInvalid;
  }
};

PublicKey KeyFilledWith(std::uint8_t first) {
  PublicKey k;
  for (std::size_t i = 0; i < kPublicKeySize; ++i) k.a[i] = static_cast<std::uint8_t>(first + i * 7);
  return k;
}
const PublicKey kCurrent = KeyFilledWith(0x11);
const PublicKey kNext = KeyFilledWith(0x80);
const PublicKey kStranger = KeyFilledWith(0x42);

TrustedKeys Trust(std::initializer_list<PublicKey> keys) {
  TrustedKeys t;
  for (const auto& k : keys) t.aKeys[t.iCount++] = k;
  return t;
}

std::string Payload() {
  return PackageArchive::PackRecord("QVInstaller.exe", std::string(5000, 'x') + "MZ") +
         PackageArchive::PackRecord("lang\\en.txt", "hello");
}

Statement StatementFor(const PublicKey& key, const std::string& payload, const char* version = "5.1.0") {
  Statement st;
  KeyIdOf(key, st.aKeyId);
  StandInDigest(payload, st.aSha256);
  st.iByteCount = payload.size();
  std::snprintf(st.sVersion, sizeof(st.sVersion), "%s", version);
  st.iSignedAt = 1767225600;
  return st;
}

std::string SignedMember(const PublicKey& key, const std::string& statementText) {
  std::uint8_t sig[kSignatureSize];
  StandInSign(key, statementText, sig);
  return BuildMember(statementText, sig);
}

std::string SignedPackage(const PublicKey& key, const std::string& payload, const char* version = "5.1.0") {
  return SignedMember(key, BuildStatement(StatementFor(key, payload, version))) + payload;
}

// A signature member record holding the given raw data.
std::string RawMember(const std::string& data, std::uint32_t declaredLength) {
  std::string r;
  const std::uint32_t nameLength = sizeof(kMemberName);
  r.append(reinterpret_cast<const char*>(&nameLength), 4);  // the tests run on little-endian machines
  r.append(kMemberName, sizeof(kMemberName));
  r.append(reinterpret_cast<const char*>(&declaredLength), 4);
  r.append(2, '\0');
  return r + data;
}

struct Checked {
  Result result;
  RecordingHasher hasher;
  StandInVerifier verifier;
  std::size_t memberBytes = 0;
};

void CheckPackage(Checked& c, const std::string& package, const TrustedKeys& keys, const char* version,
         std::size_t chunk = 4096) {
  PackageChecker checker(c.hasher);
  for (std::size_t i = 0; i < package.size(); i += chunk) checker.Feed(package.data() + i, std::min(chunk, package.size() - i));
  c.memberBytes = checker.MemberBytes();
  c.result = checker.Finish(keys, version, c.verifier);
}

const char kStatementText[] =
    "QVSIG1\n"
    "key 11181f262d343b42\n"
    "sha256 00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff\n"
    "bytes 123456\n"
    "version 5.1.0\n"
    "signed 1767225600\n";

Statement SampleStatement() {
  Statement st;
  KeyIdOf(kCurrent, st.aKeyId);
  for (std::size_t i = 0; i < kSha256Size; ++i) st.aSha256[i] = static_cast<std::uint8_t>((i % 16) * 0x11);
  st.iByteCount = 123456;
  std::snprintf(st.sVersion, sizeof(st.sVersion), "%s", "5.1.0");
  st.iSignedAt = 1767225600;
  return st;
}

}  // namespace

TEST(Statement, BuildsTheExactText) {
  EXPECT_EQ(BuildStatement(SampleStatement()), kStatementText);

  Statement st = SampleStatement();
  st.iByteCount = 0;
  st.iSignedAt = UINT64_MAX;
  const std::string s = BuildStatement(st);
  EXPECT_NE(s.find("\nbytes 0\n"), std::string::npos);
  EXPECT_NE(s.find("\nsigned 18446744073709551615\n"), std::string::npos);

  for (const char* bad : {"", "5.1 beta", "5.1\n", "5.1\xc3\xa9"}) {
    std::snprintf(st.sVersion, sizeof(st.sVersion), "%s", bad);
    EXPECT_EQ(BuildStatement(st), "") << bad;
  }
}

TEST(Statement, ParsesWhatItBuilds) {
  Statement st;
  ASSERT_EQ(ParseStatement(kStatementText, std::strlen(kStatementText), &st), StatementError::kOk);
  EXPECT_EQ(BuildStatement(st), kStatementText);
  EXPECT_EQ(Hex(st.aKeyId, kKeyIdSize), "11181f262d343b42");
  EXPECT_EQ(st.iByteCount, 123456u);
  EXPECT_STREQ(st.sVersion, "5.1.0");
  EXPECT_EQ(st.iSignedAt, 1767225600u);

  std::string longest = kStatementText;
  longest.replace(longest.find("5.1.0"), 5, std::string(63, '~'));
  ASSERT_EQ(ParseStatement(longest.data(), longest.size(), &st), StatementError::kOk) << longest;
  EXPECT_EQ(std::strlen(st.sVersion), 63u);
}

TEST(Statement, RefusesEachFieldWrongInTurn) {
  struct Case {
    const char* from;
    const char* to;
    StatementError expected;
  };
  const std::string sha = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";
  const Case cases[] = {
      {"QVSIG1\n", "QVSIG2\n", StatementError::kFormatTag},
      {"QVSIG1\n", "qvsig1\n", StatementError::kFormatTag},
      {"QVSIG1\n", "QVSIG1\r\n", StatementError::kFormatTag},
      {"QVSIG1\n", "QVSIG1 \n", StatementError::kFormatTag},
      {"key 11181f262d343b42", "key 11181f262d343b4", StatementError::kKeyId},
      {"key 11181f262d343b42", "key 11181f262d343b420", StatementError::kKeyId},
      {"key 11181f262d343b42", "key 11181F262D343B42", StatementError::kKeyId},
      {"key 11181f262d343b42", "key 11181f262d343b4g", StatementError::kKeyId},
      {"key 11181f262d343b42", "key  11181f262d343b42", StatementError::kKeyId},
      {"key 11181f262d343b42", "Key 11181f262d343b42", StatementError::kKeyId},
      {"key 11181f262d343b42\n", "key 11181f262d343b42\r\n", StatementError::kKeyId},
      {"sha256 0011", "sha256 011", StatementError::kSha256},
      {"sha256 0011", "sha256 00111", StatementError::kSha256},
      {"eeff\nbytes", "eeFF\nbytes", StatementError::kSha256},
      {"bytes 123456", "bytes ", StatementError::kByteCount},
      {"bytes 123456", "bytes 0123456", StatementError::kByteCount},
      {"bytes 123456", "bytes +123456", StatementError::kByteCount},
      {"bytes 123456", "bytes -1", StatementError::kByteCount},
      {"bytes 123456", "bytes 123456 ", StatementError::kByteCount},
      {"bytes 123456", "bytes 18446744073709551616", StatementError::kByteCount},
      {"bytes 123456", "bytes 100000000000000000000", StatementError::kByteCount},
      {"bytes 123456", "bytes 0x1e240", StatementError::kByteCount},
      {"version 5.1.0", "version ", StatementError::kVersion},
      {"version 5.1.0", "version 5.1 beta", StatementError::kVersion},
      {"version 5.1.0", "version 5.1\t0", StatementError::kVersion},
      {"version 5.1.0", "version 5.1.\xc3\xa9", StatementError::kVersion},
      {"version 5.1.0", "version 5.1.0\x7f", StatementError::kVersion},
      {"signed 1767225600", "signed 01767225600", StatementError::kSignedAt},
      {"signed 1767225600", "signed 2026-01-01", StatementError::kSignedAt},
      {"signed 1767225600\n", "signed 1767225600", StatementError::kSignedAt},
      {"signed 1767225600\n", "signed 1767225600\n\n", StatementError::kTrailingBytes},
      {"signed 1767225600\n", "signed 1767225600\nextra 1\n", StatementError::kTrailingBytes},
      // fields out of order: the first one not where it belongs is named
      {"bytes 123456\nversion 5.1.0\n", "version 5.1.0\nbytes 123456\n", StatementError::kByteCount},
      {"key 11181f262d343b42\n", "", StatementError::kKeyId},
  };
  for (const auto& c : cases) {
    std::string text = kStatementText;
    const auto at = text.find(c.from);
    ASSERT_NE(at, std::string::npos) << c.from;
    text.replace(at, std::strlen(c.from), c.to);
    Statement st;
    EXPECT_EQ(ParseStatement(text.data(), text.size(), &st), c.expected) << text;
  }
  // The version may be at most 63 characters.
  std::string text = kStatementText;
  text.replace(text.find("5.1.0"), 5, std::string(64, '7'));
  Statement st;
  EXPECT_EQ(ParseStatement(text.data(), text.size(), &st), StatementError::kVersion);
}

TEST(Statement, RefusesEveryTruncationAndOversizedInput) {
  const std::string text = kStatementText;
  Statement st;
  for (std::size_t n = 0; n < text.size(); ++n) {
    EXPECT_NE(ParseStatement(text.data(), n, &st), StatementError::kOk) << n;
  }
  EXPECT_EQ(ParseStatement(text.data(), 0, &st), StatementError::kTooShort);
  const std::string big = text + std::string(kMaxStatementSize, 'x');
  EXPECT_EQ(ParseStatement(big.data(), big.size(), &st), StatementError::kTooLong);
  // A statement may not carry a NUL anywhere.
  std::string withNul = text;
  withNul[withNul.find("5.1.0")] = '\0';
  EXPECT_EQ(ParseStatement(withNul.data(), withNul.size(), &st), StatementError::kVersion);
}

TEST(Statement, ChecksCountHashAndVersionInThatOrder) {
  const Statement st = SampleStatement();
  std::uint8_t hash[kSha256Size];
  std::memcpy(hash, st.aSha256, kSha256Size);
  std::uint8_t otherHash[kSha256Size];
  std::memcpy(otherHash, hash, kSha256Size);
  otherHash[31] ^= 1;
  struct Case {
    std::uint64_t count;
    const std::uint8_t* hash;
    const char* version;
    StatementCheck expected;
  } cases[] = {
      {123456, hash, "5.1.0", StatementCheck::kOk},
      {123456, hash, "", StatementCheck::kOk},       // the run asked for no version
      {123456, hash, nullptr, StatementCheck::kOk},
      {123455, hash, "5.1.0", StatementCheck::kByteCount},
      {123457, otherHash, "5.2.0", StatementCheck::kByteCount},
      {123456, otherHash, "5.2.0", StatementCheck::kSha256},
      {123456, hash, "5.2.0", StatementCheck::kVersion},
      {123456, hash, "5.1", StatementCheck::kVersion},
      {123456, hash, "5.1.0 ", StatementCheck::kVersion},
      {123456, hash, "5.1.0.0", StatementCheck::kVersion},
  };
  for (const auto& c : cases) EXPECT_EQ(CheckStatement(st, c.count, c.hash, c.version), c.expected) << c.version;
}

TEST(PublicKeys, ParseOneOrTwoAndRefuseTheRest) {
  const std::string a = PublicKeyHex(kCurrent), b = PublicKeyHex(kNext);
  std::string upper = a;
  for (auto& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  struct Case {
    std::string text;
    std::size_t count;
    const char* error;
  } cases[] = {
      {"", 0, nullptr},
      {" , ", 0, nullptr},
      {a, 1, nullptr},
      {upper, 1, nullptr},
      {a + "," + b, 2, nullptr},
      {a + ";" + b, 2, nullptr},
      {" " + a + " \n " + b + " ", 2, nullptr},
      {a + "," + b + "," + PublicKeyHex(kStranger), 0, "more than two public keys"},
      {a + "," + upper, 0, "the same public key twice"},
      {a.substr(2), 0, "not a public key of 128 hex digits: "},
      {a + "0", 0, "not a public key of 128 hex digits: "},
      {"zz" + a.substr(2), 0, "not a public key of 128 hex digits: "},
      {a.substr(0, 64) + ":" + a.substr(65), 0, "not a public key of 128 hex digits: "},
  };
  for (const auto& c : cases) {
    TrustedKeys keys;
    std::string error;
    const bool ok = ParsePublicKeyList(c.text.c_str(), &keys, &error);
    EXPECT_EQ(ok, c.error == nullptr) << c.text;
    if (ok) {
      EXPECT_EQ(keys.iCount, c.count) << c.text;
      if (c.count > 0) {
        EXPECT_EQ(PublicKeyHex(keys.aKeys[0]), a);
      }
      if (c.count > 1) {
        EXPECT_EQ(PublicKeyHex(keys.aKeys[1]), b);
      }
    } else {
      EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    }
  }
  std::uint8_t id[kKeyIdSize];
  KeyIdOf(kCurrent, id);
  EXPECT_EQ(Hex(id, kKeyIdSize), a.substr(0, 16));
}

TEST(SignatureMember, IsAnOrdinaryRecordWithAStoredZlibStream) {
  std::uint8_t sig[kSignatureSize];
  for (std::size_t i = 0; i < kSignatureSize; ++i) sig[i] = static_cast<std::uint8_t>(0xA0 + i);
  const std::string member = BuildMember(kStatementText, sig);
  const std::string content = std::string(kStatementText) + std::string(reinterpret_cast<char*>(sig), kSignatureSize);
  // name length 13, the name and its NUL, data length, mask 0
  const std::string header = std::string("\x0d\0\0\0.qvsignature\0", 17);
  ASSERT_EQ(member.compare(0, 17, header), 0);
  const std::uint32_t dataLength = static_cast<std::uint8_t>(member[17]) | (static_cast<std::uint8_t>(member[18]) << 8);
  EXPECT_EQ(member.size(), 23 + dataLength);
  EXPECT_EQ(member.substr(21, 2), std::string(2, '\0'));
  // zlib header, one stored block holding the content unchanged, Adler-32
  EXPECT_EQ(member.substr(23, 2), "\x78\x01");
  EXPECT_NE(member.find(content), std::string::npos);
  EXPECT_EQ(dataLength, 2 + 5 + content.size() + 4);
}

TEST(PackageChecker, AcceptsASignedPackageInAnyChunking) {
  const std::string payload = Payload();
  const std::string package = SignedPackage(kCurrent, payload);
  for (std::size_t chunk : {std::size_t(1), std::size_t(7), std::size_t(23), std::size_t(4096), package.size()}) {
    Checked c;
    CheckPackage(c, package, Trust({kCurrent}), "5.1.0", chunk);
    EXPECT_EQ(c.result.verdict, Verdict::kOk) << chunk << ": " << Describe(c.result, "5.1.0");
    // exactly the bytes after the member are hashed and counted
    EXPECT_EQ(c.hasher.fed, payload);
    EXPECT_EQ(c.memberBytes, package.size() - payload.size());
    EXPECT_EQ(c.result.iPayloadBytes, payload.size());
    EXPECT_EQ(c.verifier.lastMessage, BuildStatement(StatementFor(kCurrent, payload)));
    EXPECT_EQ(c.hasher.finishes, 1);
  }
  Checked c;
  CheckPackage(c, package, Trust({kCurrent}), "5.1.0");
  EXPECT_EQ(Describe(c.result, "5.1.0"),
            "signature verified: key " + PublicKeyHex(kCurrent).substr(0, 16) + ", version 5.1.0, " +
                std::to_string(payload.size()) + " bytes, signed at 1767225600");
}

TEST(PackageChecker, TakesTheCurrentOrTheNextKey) {
  const std::string payload = Payload();
  Checked current, next;
  CheckPackage(current, SignedPackage(kCurrent, payload), Trust({kCurrent, kNext}), "5.1.0");
  CheckPackage(next, SignedPackage(kNext, payload), Trust({kCurrent, kNext}), "5.1.0");
  EXPECT_EQ(current.result.verdict, Verdict::kOk);
  EXPECT_EQ(current.result.iKeyIndex, 0u);
  EXPECT_EQ(next.result.verdict, Verdict::kOk);
  EXPECT_EQ(next.result.iKeyIndex, 1u);
  // Only the key the statement names is tried.
  EXPECT_EQ(next.verifier.keysAsked, std::vector<std::string>{PublicKeyHex(kNext)});
}

TEST(PackageChecker, NamesTheCheckThatFailed) {
  const std::string payload = Payload();
  const std::string good = SignedPackage(kCurrent, payload);
  const std::string member = good.substr(0, good.size() - payload.size());
  std::string tamperedPayload = payload;
  tamperedPayload[payload.size() / 2] ^= 0x01;
  const std::string statement = BuildStatement(StatementFor(kCurrent, payload));
  std::string forgedStatement = statement;
  forgedStatement.replace(forgedStatement.find("5.1.0"), 5, "5.2.0");
  std::uint8_t sig[kSignatureSize];
  StandInSign(kCurrent, statement, sig);
  const std::string sigBytes(reinterpret_cast<char*>(sig), kSignatureSize);
  const std::string content = statement + sigBytes;
  const std::string storedContent = member.substr(23);  // the zlib stream as built

  struct Case {
    const char* what;
    std::string package;
    const char* version;
    Verdict expected;
    StatementError statementError;
  } cases[] = {
      {"empty package", "", "5.1.0", Verdict::kEmpty, StatementError::kOk},
      {"unsigned package", payload, "5.1.0", Verdict::kUnsigned, StatementError::kOk},
      {"member named otherwise", PackageArchive::PackRecord(".qvsignaturE", content) + payload, "5.1.0",
       Verdict::kUnsigned, StatementError::kOk},
      {"member later in the package", PackageArchive::PackRecord("a.txt", "a") + member + payload, "5.1.0",
       Verdict::kUnsigned, StatementError::kOk},
      {"member cut in its name", member.substr(0, 9), "5.1.0", Verdict::kMemberDamaged, StatementError::kOk},
      {"member cut in its data", member.substr(0, member.size() - 1), "5.1.0", Verdict::kMemberDamaged,
       StatementError::kOk},
      {"member data over the bound", RawMember(std::string(2000, 'x'), 1025) + payload, "5.1.0",
       Verdict::kMemberDamaged, StatementError::kOk},
      {"member data not zlib", RawMember(content, static_cast<std::uint32_t>(content.size())) + payload, "5.1.0",
       Verdict::kMemberDamaged, StatementError::kOk},
      {"zlib stream with bytes after it",
       RawMember(storedContent + "x", static_cast<std::uint32_t>(storedContent.size() + 1)) + payload, "5.1.0",
       Verdict::kMemberDamaged, StatementError::kOk},
      {"content over the bound", PackageArchive::PackRecord(kMemberName, std::string(kMaxContentSize + 1, 'Q')) + payload,
       "5.1.0", Verdict::kMemberDamaged, StatementError::kOk},
      {"content shorter than a signature", PackageArchive::PackRecord(kMemberName, sigBytes.substr(1)) + payload,
       "5.1.0", Verdict::kStatementMalformed, StatementError::kTooShort},
      {"signature only", PackageArchive::PackRecord(kMemberName, sigBytes) + payload, "5.1.0",
       Verdict::kStatementMalformed, StatementError::kTooShort},
      {"statement cut short", PackageArchive::PackRecord(kMemberName, statement.substr(0, 40) + sigBytes) + payload,
       "5.1.0", Verdict::kStatementMalformed, StatementError::kSha256},
      {"statement for another key", SignedPackage(kStranger, payload), "5.1.0", Verdict::kUnknownKey,
       StatementError::kOk},
      {"statement changed after signing", PackageArchive::PackRecord(kMemberName, forgedStatement + sigBytes) + payload,
       "5.2.0", Verdict::kBadSignature, StatementError::kOk},
      {"one payload byte changed", member + tamperedPayload, "5.1.0", Verdict::kSha256, StatementError::kOk},
      {"payload one byte short", member + payload.substr(0, payload.size() - 1), "5.1.0", Verdict::kByteCount,
       StatementError::kOk},
      {"payload one byte long", member + payload + "x", "5.1.0", Verdict::kByteCount, StatementError::kOk},
      {"signed for 5.1.0, asked for 5.2.0", good, "5.2.0", Verdict::kVersion, StatementError::kOk},
      {"asked for no version", good, "", Verdict::kOk, StatementError::kOk},
      {"nothing after the member", SignedPackage(kCurrent, ""), "5.1.0", Verdict::kOk, StatementError::kOk},
  };
  for (const auto& c : cases) {
    Checked checked;
    CheckPackage(checked, c.package, Trust({kCurrent, kNext}), c.version, 5);
    EXPECT_EQ(checked.result.verdict, c.expected) << c.what << ": " << Describe(checked.result, c.version);
    EXPECT_EQ(checked.result.statementError, c.statementError) << c.what;
    // An unknown key is never asked about.
    if (c.expected == Verdict::kUnknownKey) {
      EXPECT_TRUE(checked.verifier.keysAsked.empty()) << c.what;
    }
  }
}

TEST(PackageChecker, ReportsTheSystemsCryptographyFailing) {
  const std::string payload = Payload();
  const std::string package = SignedPackage(kCurrent, payload);
  struct Case {
    SignatureResult fromVerifier;
    int hasherFailsAfter;
    Verdict expected;
  } cases[] = {
      {SignatureResult::kUnavailable, -1, Verdict::kCryptoUnavailable},
      {SignatureResult::kKeyRejected, -1, Verdict::kKeyRejected},
      {SignatureResult::kInvalid, -1, Verdict::kBadSignature},
      {SignatureResult::kValid, 0, Verdict::kCryptoUnavailable},
      {SignatureResult::kValid, 3, Verdict::kCryptoUnavailable},
  };
  for (const auto& c : cases) {
    Checked checked;
    checked.verifier.forced = c.fromVerifier;
    checked.hasher.failAfter = c.hasherFailsAfter;
    CheckPackage(checked, package, Trust({kCurrent}), "5.1.0", 10);
    EXPECT_EQ(checked.result.verdict, c.expected) << static_cast<int>(c.fromVerifier) << " " << c.hasherFailsAfter;
  }
}

TEST(PackageChecker, DescribesEachRefusalInOneLine) {
  const std::string payload = Payload();
  const std::string id = PublicKeyHex(kCurrent).substr(0, 16);
  Checked version, count, unknown, unsignedPackage;
  CheckPackage(version, SignedPackage(kCurrent, payload), Trust({kCurrent}), "5.2.0");
  EXPECT_EQ(Describe(version.result, "5.2.0"), "version mismatch: signed 5.1.0, requested 5.2.0");
  CheckPackage(count, SignedPackage(kCurrent, payload) + "xy", Trust({kCurrent}), "5.1.0");
  EXPECT_EQ(Describe(count.result, "5.1.0"), "byte count mismatch: signed " + std::to_string(payload.size()) +
                                                 ", received " + std::to_string(payload.size() + 2));
  CheckPackage(unknown, SignedPackage(kCurrent, payload), Trust({kNext}), "5.1.0");
  EXPECT_EQ(Describe(unknown.result, "5.1.0"), "the package is signed with key " + id + ", which this build does not trust");
  CheckPackage(unsignedPackage, payload, Trust({kCurrent}), "5.1.0");
  EXPECT_EQ(Describe(unsignedPackage.result, "5.1.0"), "the package is not signed (its first member is not .qvsignature)");

  std::string tampered = SignedPackage(kCurrent, payload);
  tampered.back() ^= 0x20;
  Checked hash;
  CheckPackage(hash, tampered, Trust({kCurrent}), "5.1.0");
  std::uint8_t signedHash[kSha256Size], receivedHash[kSha256Size];
  StandInDigest(payload, signedHash);
  StandInDigest(tampered.substr(tampered.size() - payload.size()), receivedHash);
  EXPECT_EQ(Describe(hash.result, "5.1.0"),
            "hash mismatch: signed " + Hex(signedHash, kSha256Size) + ", received " + Hex(receivedHash, kSha256Size));
}

#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "code/utility/archive/archive.h"

// Package signatures.
//
// A signed package starts with one member named kMemberName whose contents
// (a zlib stream, like every member, so an older starter unpacks it as one
// small file) are a statement followed by the publisher's signature:
//
//   QVSIG1\n
//   key <16 hex digits: the first 8 bytes of the signing public key>\n
//   sha256 <64 hex digits: SHA-256 of every package byte after this member>\n
//   bytes <decimal: how many bytes that is>\n
//   version <the client version the package installs>\n
//   signed <decimal: seconds since 1970, UTC, when it was signed>\n
//   <64 bytes: ECDSA P-256 signature r || s over SHA-256 of the statement>
//
// Hex is lower case; decimals have no sign and no leading zero. The
// statement is read strictly: fields in this order, nothing before,
// between or after them.
//
// The cryptography itself is not here: hashing and signature checks come
// through Sha256Hasher and SignatureVerifier, implemented with the system's
// CNG in the starter and with OpenSSL in the operator tools.
namespace PackageSignature {

inline constexpr const auto& kMemberName = PackageArchive::kSignatureMember;
constexpr char kFormatTag[] = "QVSIG1";
constexpr std::size_t kSha256Size = 32;
constexpr std::size_t kKeyIdSize = 8;
constexpr std::size_t kPublicKeySize = 64;   // X || Y, big-endian
constexpr std::size_t kSignatureSize = 64;   // r || s, big-endian
constexpr std::size_t kMaxVersionLength = 63;
constexpr std::size_t kMaxDecimalDigits = 20;  // fits 64 bits
constexpr std::size_t kMaxStatementSize = 256;
constexpr std::size_t kMaxContentSize = kMaxStatementSize + kSignatureSize;
// Bound on the member's stored (compressed) data; qvpack stores it uncompressed.
constexpr std::size_t kMaxMemberDataLength = 1024;
constexpr std::size_t kMaxTrustedKeys = 2;  // the current key and the next one

struct PublicKey {
  std::uint8_t a[kPublicKeySize];
};

// The keys a starter trusts (QV_PACKAGE_PUBLIC_KEYS).
struct TrustedKeys {
  PublicKey aKeys[kMaxTrustedKeys];
  std::size_t iCount = 0;
};

struct Statement {
  std::uint8_t aKeyId[kKeyIdSize];
  std::uint8_t aSha256[kSha256Size];
  std::uint64_t iByteCount = 0;
  char sVersion[kMaxVersionLength + 1] = {};
  std::uint64_t iSignedAt = 0;
};

// Which part of a statement failed to parse.
enum class StatementError {
  kOk,
  kTooShort,
  kTooLong,
  kFormatTag,
  kKeyId,
  kSha256,
  kByteCount,
  kVersion,
  kSignedAt,
  kTrailingBytes,
};
const char* DescribeStatementError(StatementError e);

// Which comparison against the package failed.
enum class StatementCheck {
  kOk,
  kByteCount,
  kSha256,
  kVersion,
};

// The key id a statement carries for a public key.
void KeyIdOf(const PublicKey& key, std::uint8_t aKeyId[kKeyIdSize]);

// 128 hex digits (either case) -> 64 bytes.
bool ParsePublicKeyHex(const char* sHex, PublicKey* pKey);
std::string PublicKeyHex(const PublicKey& key);
std::string Hex(const std::uint8_t* p, std::size_t n);

// One or two hex keys separated by commas, semicolons or white space.
// False (with the reason) on anything else, on more than two keys or on
// the same key twice; an empty text gives no keys and is not an error.
bool ParsePublicKeyList(const char* sText, TrustedKeys* pKeys, std::string* pError);

// A version a statement may carry: 1..kMaxVersionLength printable ASCII
// characters, no blank.
bool IsValidVersion(const char* sVersion);

// The statement text (empty when a field cannot be written, such as a
// version that IsValidVersion refuses).
std::string BuildStatement(const Statement& statement);

// Strict parse of exactly n bytes.
StatementError ParseStatement(const void* pData, std::size_t n, Statement* pOut);

// Compares a parsed statement with what was received. sExpectedVersion
// null or empty: the run asked for no version and none is compared;
// otherwise the version must match byte for byte.
StatementCheck CheckStatement(const Statement& statement, std::uint64_t iByteCount,
                              const std::uint8_t aSha256[kSha256Size], const char* sExpectedVersion);

// The whole signature member record (name, data length, mask, data):
// statement and signature stored in one uncompressed zlib stream.
std::string BuildMember(const std::string& sStatement, const std::uint8_t aSignature[kSignatureSize]);

// Incremental SHA-256.
class Sha256Hasher {
 public:
  virtual ~Sha256Hasher() = default;
  virtual bool Update(const void* pData, std::size_t n) = 0;
  // Once, after the last Update.
  virtual bool Finish(std::uint8_t aDigest[kSha256Size]) = 0;
};

enum class SignatureResult {
  kValid,
  kInvalid,       // the signature does not match the message under this key
  kKeyRejected,   // the public key is not a point the system accepts
  kUnavailable,   // the system's cryptography could not be used
};

class SignatureVerifier {
 public:
  virtual ~SignatureVerifier() = default;
  // ECDSA P-256 over SHA-256 of the message.
  virtual SignatureResult Verify(const PublicKey& key, const void* pMessage, std::size_t n,
                                 const std::uint8_t aSignature[kSignatureSize]) = 0;
};

// The outcome of a package check; every value but kOk refuses the package.
enum class Verdict {
  kOk,
  kEmpty,              // no byte at all
  kUnsigned,           // the first member is not the signature member
  kMemberDamaged,      // the signature member is cut short, too long or not a zlib stream
  kStatementMalformed, // see Result::statementError
  kUnknownKey,         // signed with a key this build does not trust
  kKeyRejected,
  kBadSignature,
  kCryptoUnavailable,  // hashing or verification could not run
  kByteCount,
  kSha256,
  kVersion,
};

struct Result {
  Verdict verdict = Verdict::kEmpty;
  StatementError statementError = StatementError::kOk;
  bool bStatementParsed = false;
  Statement statement;
  std::uint64_t iPayloadBytes = 0;            // bytes after the signature member
  std::uint8_t aPayloadSha256[kSha256Size] = {};  // valid from the hash check on
  std::size_t iKeyIndex = 0;                  // the trusted key that verified
};

// One line that says which check failed and with what values, for the log.
std::string Describe(const Result& result, const char* sExpectedVersion);

// Checks a package as its bytes arrive, in chunks of any size: the leading
// signature member is kept (bounded by kMaxMemberDataLength) and every byte
// after it goes to the hasher. Nothing is allocated from sizes in the data.
class PackageChecker {
 public:
  explicit PackageChecker(Sha256Hasher& hasher) : m_hasher(hasher) {}

  // False once the hasher has failed (Finish then says kCryptoUnavailable).
  bool Feed(const void* pData, std::size_t n);

  // Bytes of the leading signature member record, once it is complete
  // (0 otherwise): the unpacking skips exactly these.
  std::size_t MemberBytes() const { return m_eState == State::kPayload ? m_iHave : 0; }

  // After the last byte. Runs the checks in order: member, statement, key,
  // signature, byte count, hash, version; the first that fails is the verdict.
  Result Finish(const TrustedKeys& keys, const char* sExpectedVersion, SignatureVerifier& verifier);

 private:
  enum class State { kHeader, kData, kPayload, kUnsigned, kTooLong };
  static constexpr std::size_t kNameField = sizeof(kMemberName);  // with its NUL
  static constexpr std::size_t kHeaderBytes = 4 + kNameField + 4 + 2;

  Sha256Hasher& m_hasher;
  State m_eState = State::kHeader;
  bool m_bHashFailed = false;
  std::uint8_t m_aRecord[kHeaderBytes + kMaxMemberDataLength];
  std::size_t m_iHave = 0;      // bytes of m_aRecord filled
  std::size_t m_iRecordSize = 0;
  std::uint64_t m_iPayloadBytes = 0;
};

}  // namespace PackageSignature

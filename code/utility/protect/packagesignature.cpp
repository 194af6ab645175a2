#include "code/utility/protect/packagesignature.h"

#include <zlib.h>

#include <cstring>

#include "code/utility/archive/archive.h"

namespace PackageSignature {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads one statement line "<name> <value>\n" at *pPos; the value's bounds
// come back in *pValue / *pLength. False when the line is not there.
bool ReadLine(const char* p, std::size_t n, std::size_t* pPos, const char* sName, const char** pValue,
              std::size_t* pLength) {
  const std::size_t iName = std::strlen(sName);
  std::size_t i = *pPos;
  if (n - i < iName + 1 || std::memcmp(p + i, sName, iName) != 0 || p[i + iName] != ' ') return false;
  i += iName + 1;
  const std::size_t iStart = i;
  while (i < n && p[i] != '\n') ++i;
  if (i == n) return false;
  *pValue = p + iStart;
  *pLength = i - iStart;
  *pPos = i + 1;
  return true;
}

// Exactly 2 * size lower-case hex digits.
bool ReadHex(const char* p, std::size_t n, std::uint8_t* pOut, std::size_t iSize) {
  if (n != 2 * iSize) return false;
  for (std::size_t i = 0; i < iSize; ++i) {
    const char hi = p[2 * i], lo = p[2 * i + 1];
    if ((hi >= 'A' && hi <= 'F') || (lo >= 'A' && lo <= 'F')) return false;
    const int a = HexValue(hi), b = HexValue(lo);
    if (a < 0 || b < 0) return false;
    pOut[i] = static_cast<std::uint8_t>(a * 16 + b);
  }
  return true;
}

// A decimal with no sign and no leading zero that fits 64 bits.
bool ReadDecimal(const char* p, std::size_t n, std::uint64_t* pOut) {
  if (n == 0 || n > kMaxDecimalDigits || (n > 1 && p[0] == '0')) return false;
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (p[i] < '0' || p[i] > '9') return false;
    const std::uint64_t d = static_cast<std::uint64_t>(p[i] - '0');
    if (v > (UINT64_MAX - d) / 10) return false;
    v = v * 10 + d;
  }
  *pOut = v;
  return true;
}

bool IsVersionCharacter(char c) { return c > ' ' && c <= '~'; }

std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// The bytes a signature record starts with: name length (the name and its NUL) and the name.
constexpr std::size_t kFixedPrefix = 4 + sizeof(kMemberName);
std::uint8_t ExpectedPrefixByte(std::size_t i) {
  if (i < 4) return i == 0 ? static_cast<std::uint8_t>(sizeof(kMemberName)) : 0;
  return static_cast<std::uint8_t>(kMemberName[i - 4]);  // the NUL included
}

// Inflates the member data into pOut; false unless it is exactly one zlib
// stream whose output fits kMaxContentSize.
bool InflateContent(const std::uint8_t* pData, std::size_t n, std::uint8_t* pOut, std::size_t* pSize) {
  z_stream zs;
  std::memset(&zs, 0, sizeof(zs));
  if (inflateInit(&zs) != Z_OK) return false;
  std::uint8_t aSpare[1];
  zs.next_in = const_cast<Bytef*>(pData);
  zs.avail_in = static_cast<uInt>(n);
  zs.next_out = pOut;
  zs.avail_out = static_cast<uInt>(kMaxContentSize);
  int iErr = inflate(&zs, Z_FINISH);
  if ((iErr == Z_BUF_ERROR || iErr == Z_OK) && zs.avail_out == 0) {
    // Output full: the stream must end here without producing one more byte.
    zs.next_out = aSpare;
    zs.avail_out = sizeof(aSpare);
    iErr = inflate(&zs, Z_FINISH);
    if (zs.avail_out == 0) iErr = Z_DATA_ERROR;
  }
  const bool bOk = iErr == Z_STREAM_END && zs.avail_in == 0;
  *pSize = zs.total_out;
  inflateEnd(&zs);
  return bOk;
}

}  // namespace

const char* DescribeStatementError(StatementError e) {
  switch (e) {
    case StatementError::kOk: return "ok";
    case StatementError::kTooShort: return "too short";
    case StatementError::kTooLong: return "too long";
    case StatementError::kFormatTag: return "format tag";
    case StatementError::kKeyId: return "key";
    case StatementError::kSha256: return "sha256";
    case StatementError::kByteCount: return "bytes";
    case StatementError::kVersion: return "version";
    case StatementError::kSignedAt: return "signed";
    case StatementError::kTrailingBytes: return "bytes after the last field";
  }
  return "?";
}

void KeyIdOf(const PublicKey& key, std::uint8_t aKeyId[kKeyIdSize]) { std::memcpy(aKeyId, key.a, kKeyIdSize); }

bool ParsePublicKeyHex(const char* sHex, PublicKey* pKey) {
  if (!sHex || std::strlen(sHex) != 2 * kPublicKeySize) return false;
  for (std::size_t i = 0; i < kPublicKeySize; ++i) {
    const int a = HexValue(sHex[2 * i]), b = HexValue(sHex[2 * i + 1]);
    if (a < 0 || b < 0) return false;
    pKey->a[i] = static_cast<std::uint8_t>(a * 16 + b);
  }
  return true;
}

std::string Hex(const std::uint8_t* p, std::size_t n) {
  std::string s;
  s.reserve(2 * n);
  for (std::size_t i = 0; i < n; ++i) {
    s += kHexDigits[p[i] >> 4];
    s += kHexDigits[p[i] & 15];
  }
  return s;
}

std::string PublicKeyHex(const PublicKey& key) { return Hex(key.a, kPublicKeySize); }

bool ParsePublicKeyList(const char* sText, TrustedKeys* pKeys, std::string* pError) {
  pKeys->iCount = 0;
  const std::string sAll = sText ? sText : "";
  std::size_t i = 0;
  while (i < sAll.size()) {
    const std::size_t iStart = sAll.find_first_not_of(", ;\t\r\n", i);
    if (iStart == std::string::npos) break;
    std::size_t iEnd = sAll.find_first_of(", ;\t\r\n", iStart);
    if (iEnd == std::string::npos) iEnd = sAll.size();
    const std::string sKey = sAll.substr(iStart, iEnd - iStart);
    i = iEnd;
    if (pKeys->iCount == kMaxTrustedKeys) {
      if (pError) *pError = "more than two public keys";
      return false;
    }
    PublicKey key;
    if (!ParsePublicKeyHex(sKey.c_str(), &key)) {
      if (pError) *pError = "not a public key of 128 hex digits: " + sKey.substr(0, 2 * kPublicKeySize + 1);
      return false;
    }
    for (std::size_t k = 0; k < pKeys->iCount; ++k) {
      if (std::memcmp(pKeys->aKeys[k].a, key.a, kPublicKeySize) == 0) {
        if (pError) *pError = "the same public key twice";
        return false;
      }
    }
    pKeys->aKeys[pKeys->iCount++] = key;
  }
  return true;
}

bool IsValidVersion(const char* sVersion) {
  if (!sVersion) return false;
  const std::size_t n = std::strlen(sVersion);
  if (n == 0 || n > kMaxVersionLength) return false;
  for (std::size_t i = 0; i < n; ++i) {
    if (!IsVersionCharacter(sVersion[i])) return false;
  }
  return true;
}

std::string BuildStatement(const Statement& statement) {
  if (!IsValidVersion(statement.sVersion)) return std::string();
  std::string s = kFormatTag;
  s += "\nkey " + Hex(statement.aKeyId, kKeyIdSize);
  s += "\nsha256 " + Hex(statement.aSha256, kSha256Size);
  s += "\nbytes " + std::to_string(statement.iByteCount);
  s += "\nversion ";
  s += statement.sVersion;
  s += "\nsigned " + std::to_string(statement.iSignedAt);
  s += '\n';
  return s;
}

StatementError ParseStatement(const void* pData, std::size_t n, Statement* pOut) {
  const char* p = static_cast<const char*>(pData);
  const std::size_t iTag = sizeof(kFormatTag) - 1;
  if (n > kMaxStatementSize) return StatementError::kTooLong;
  if (n < iTag + 1) return StatementError::kTooShort;
  if (std::memcmp(p, kFormatTag, iTag) != 0 || p[iTag] != '\n') return StatementError::kFormatTag;
  std::size_t i = iTag + 1;
  const char* v = nullptr;
  std::size_t iLen = 0;
  Statement st;
  if (!ReadLine(p, n, &i, "key", &v, &iLen) || !ReadHex(v, iLen, st.aKeyId, kKeyIdSize)) return StatementError::kKeyId;
  if (!ReadLine(p, n, &i, "sha256", &v, &iLen) || !ReadHex(v, iLen, st.aSha256, kSha256Size))
    return StatementError::kSha256;
  if (!ReadLine(p, n, &i, "bytes", &v, &iLen) || !ReadDecimal(v, iLen, &st.iByteCount))
    return StatementError::kByteCount;
  if (!ReadLine(p, n, &i, "version", &v, &iLen) || iLen == 0 || iLen > kMaxVersionLength)
    return StatementError::kVersion;
  for (std::size_t k = 0; k < iLen; ++k) {
    if (!IsVersionCharacter(v[k])) return StatementError::kVersion;
  }
  std::memcpy(st.sVersion, v, iLen);
  st.sVersion[iLen] = '\0';
  if (!ReadLine(p, n, &i, "signed", &v, &iLen) || !ReadDecimal(v, iLen, &st.iSignedAt))
    return StatementError::kSignedAt;
  if (i != n) return StatementError::kTrailingBytes;
  *pOut = st;
  return StatementError::kOk;
}

StatementCheck CheckStatement(const Statement& statement, std::uint64_t iByteCount,
                              const std::uint8_t aSha256[kSha256Size], const char* sExpectedVersion) {
  if (statement.iByteCount != iByteCount) return StatementCheck::kByteCount;
  if (std::memcmp(statement.aSha256, aSha256, kSha256Size) != 0) return StatementCheck::kSha256;
  if (sExpectedVersion && *sExpectedVersion && std::strcmp(statement.sVersion, sExpectedVersion) != 0)
    return StatementCheck::kVersion;
  return StatementCheck::kOk;
}

std::string BuildMember(const std::string& sStatement, const std::uint8_t aSignature[kSignatureSize]) {
  std::string sContent = sStatement;
  sContent.append(reinterpret_cast<const char*>(aSignature), kSignatureSize);
  return PackageArchive::PackRecord(kMemberName, sContent, 0, Z_NO_COMPRESSION);
}

std::string Describe(const Result& r, const char* sExpectedVersion) {
  const Statement& st = r.statement;
  const std::string sKey = r.bStatementParsed ? Hex(st.aKeyId, kKeyIdSize) : std::string("?");
  switch (r.verdict) {
    case Verdict::kOk:
      return "signature verified: key " + sKey + ", version " + st.sVersion + ", " + std::to_string(st.iByteCount) +
             " bytes, signed at " + std::to_string(st.iSignedAt);
    case Verdict::kEmpty: return "the package is empty";
    case Verdict::kUnsigned: return std::string("the package is not signed (its first member is not ") + kMemberName + ")";
    case Verdict::kMemberDamaged: return "the signature member is damaged";
    case Verdict::kStatementMalformed:
      return std::string("the signed statement is malformed: ") + DescribeStatementError(r.statementError);
    case Verdict::kUnknownKey: return "the package is signed with key " + sKey + ", which this build does not trust";
    case Verdict::kKeyRejected: return "the system refused public key " + sKey;
    case Verdict::kBadSignature: return "the signature does not match the statement (key " + sKey + ")";
    case Verdict::kCryptoUnavailable: return "the system's cryptography is unavailable";
    case Verdict::kByteCount:
      return "byte count mismatch: signed " + std::to_string(st.iByteCount) + ", received " +
             std::to_string(r.iPayloadBytes);
    case Verdict::kSha256:
      return "hash mismatch: signed " + Hex(st.aSha256, kSha256Size) + ", received " +
             Hex(r.aPayloadSha256, kSha256Size);
    case Verdict::kVersion:
      return std::string("version mismatch: signed ") + st.sVersion + ", requested " +
             (sExpectedVersion ? sExpectedVersion : "");
  }
  return "?";
}

bool PackageChecker::Feed(const void* pData, std::size_t n) {
  const std::uint8_t* p = static_cast<const std::uint8_t*>(pData);
  while (n > 0) {
    switch (m_eState) {
      case State::kHeader: {
        const std::uint8_t b = *p;
        if (m_iHave < kFixedPrefix && b != ExpectedPrefixByte(m_iHave)) {
          m_eState = State::kUnsigned;
          break;
        }
        m_aRecord[m_iHave++] = b;
        ++p;
        --n;
        if (m_iHave == kHeaderBytes) {
          const std::uint32_t iDataLength = Le32(m_aRecord + kFixedPrefix);
          if (iDataLength > kMaxMemberDataLength) {
            m_eState = State::kTooLong;
          } else {
            m_iRecordSize = kHeaderBytes + iDataLength;
            m_eState = m_iHave == m_iRecordSize ? State::kPayload : State::kData;
          }
        }
        break;
      }
      case State::kData: {
        const std::size_t iTake = (m_iRecordSize - m_iHave) < n ? (m_iRecordSize - m_iHave) : n;
        std::memcpy(m_aRecord + m_iHave, p, iTake);
        m_iHave += iTake;
        p += iTake;
        n -= iTake;
        if (m_iHave == m_iRecordSize) m_eState = State::kPayload;
        break;
      }
      case State::kPayload:
        if (!m_bHashFailed && !m_hasher.Update(p, n)) m_bHashFailed = true;
        m_iPayloadBytes += n;
        n = 0;
        break;
      case State::kUnsigned:
      case State::kTooLong:
        // Nothing more to learn: the verdict is settled.
        m_iPayloadBytes += n;
        n = 0;
        break;
    }
  }
  return !m_bHashFailed;
}

Result PackageChecker::Finish(const TrustedKeys& keys, const char* sExpectedVersion, SignatureVerifier& verifier) {
  Result r;
  r.iPayloadBytes = m_iPayloadBytes;
  switch (m_eState) {
    case State::kHeader:
      r.verdict = m_iHave == 0 ? Verdict::kEmpty : Verdict::kMemberDamaged;
      return r;
    case State::kData:
    case State::kTooLong:
      r.verdict = Verdict::kMemberDamaged;
      return r;
    case State::kUnsigned:
      r.verdict = Verdict::kUnsigned;
      return r;
    case State::kPayload:
      break;
  }

  std::uint8_t aContent[kMaxContentSize];
  std::size_t iContent = 0;
  if (!InflateContent(m_aRecord + kHeaderBytes, m_iRecordSize - kHeaderBytes, aContent, &iContent)) {
    r.verdict = Verdict::kMemberDamaged;
    return r;
  }
  if (iContent < kSignatureSize) {
    r.verdict = Verdict::kStatementMalformed;
    r.statementError = StatementError::kTooShort;
    return r;
  }
  const std::size_t iStatement = iContent - kSignatureSize;
  r.statementError = ParseStatement(aContent, iStatement, &r.statement);
  if (r.statementError != StatementError::kOk) {
    r.verdict = Verdict::kStatementMalformed;
    return r;
  }
  r.bStatementParsed = true;

  // Every trusted key with this id is tried (two keys sharing 8 bytes is
  // merely improbable).
  bool bKnown = false;
  SignatureResult sig = SignatureResult::kInvalid;
  for (std::size_t k = 0; k < keys.iCount && k < kMaxTrustedKeys; ++k) {
    std::uint8_t aId[kKeyIdSize];
    KeyIdOf(keys.aKeys[k], aId);
    if (std::memcmp(aId, r.statement.aKeyId, kKeyIdSize) != 0) continue;
    bKnown = true;
    sig = verifier.Verify(keys.aKeys[k], aContent, iStatement, aContent + iStatement);
    if (sig == SignatureResult::kValid) {
      r.iKeyIndex = k;
      break;
    }
  }
  if (!bKnown) {
    r.verdict = Verdict::kUnknownKey;
    return r;
  }
  if (sig != SignatureResult::kValid) {
    r.verdict = sig == SignatureResult::kInvalid       ? Verdict::kBadSignature
                : sig == SignatureResult::kKeyRejected ? Verdict::kKeyRejected
                                                       : Verdict::kCryptoUnavailable;
    return r;
  }

  if (m_bHashFailed || !m_hasher.Finish(r.aPayloadSha256)) {
    r.verdict = Verdict::kCryptoUnavailable;
    return r;
  }
  switch (CheckStatement(r.statement, m_iPayloadBytes, r.aPayloadSha256, sExpectedVersion)) {
    case StatementCheck::kOk: r.verdict = Verdict::kOk; break;
    case StatementCheck::kByteCount: r.verdict = Verdict::kByteCount; break;
    case StatementCheck::kSha256: r.verdict = Verdict::kSha256; break;
    case StatementCheck::kVersion: r.verdict = Verdict::kVersion; break;
  }
  return r;
}

}  // namespace PackageSignature

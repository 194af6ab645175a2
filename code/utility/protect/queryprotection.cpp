#include "code/utility/protect/queryprotection.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "code/utility/log/logmask.h"
#include "code/utility/log/logsink.h"
#include "code/utility/protect/sha1.h"
#include "code/utility/text/encoding.h"

namespace Utility {
namespace {

const char kSource[] = "code/utility/utility";

const char* MaskKey(const char* sKind) {
  if (sKind != nullptr) {
    if (std::strcmp(sKind, "A") == 0) return "#%&lomiduva*#";
    if (std::strcmp(sKind, "M") == 0) return "$71#@!K458qq6";
    if (std::strcmp(sKind, "L") == 0) return "$kk#@!mno7pp4";
  }
  return "Hq42cvNPaZ7ek3TrWbxodLs5Uj9061gM";
}

// Random token state: shared by the whole process.
std::atomic<long long> g_iTokenSeed{0};
std::atomic<unsigned int> g_iTokenSequence{347282};

}  // namespace

bool SHA1Base64(const char* sText, char* sOut, std::size_t iOutSize) {
  if (sOut == nullptr || iOutSize < kCheckSumTextSize) {
    if (sOut != nullptr && iOutSize > 0) sOut[0] = '\0';
    return false;
  }
  const std::string sCheckSum = SHA1Base64(std::string(sText ? sText : ""));
  std::memcpy(sOut, sCheckSum.c_str(), sCheckSum.size() + 1);
  return true;
}

std::string SHA1Base64(const std::string& sText) {
  unsigned char digest[SHA1Context::kDigestSize];
  SHA1Digest(sText.c_str(), std::strlen(sText.c_str()), digest);
  std::string sOut;
  Base64Encode(digest, sizeof(digest), sOut, false);
  return sOut;
}

void ApplyMask(unsigned char* pData, std::size_t iLength, const char* sKind) {
  if (pData == nullptr || iLength < 2) return;
  const char* sKey = MaskKey(sKind);
  const std::size_t k = std::strlen(sKey);
  for (std::size_t p = 0; p + 1 < iLength; ++p) {
    const std::size_t i = p % (k + 1);
    if (i < k) pData[p] = static_cast<unsigned char>(pData[p] ^ static_cast<unsigned char>(sKey[i]));
  }
}

bool UnmaskText(char* sText, const char* sKind) {
  if (sText == nullptr || sText[0] == '\0') return true;
  const std::size_t iLength = std::strlen(sText);
  std::vector<unsigned char> bytes(Base64DecodedLength(sText, iLength) + 1);
  std::size_t n = 0;
  Base64Decode(sText, iLength, bytes.data(), bytes.size(), n);
  ApplyMask(bytes.data(), n, sKind);
  bytes[n] = 0;
  // The plain text is never longer than its base64 form, so it fits in place.
  const std::size_t iPlain = std::strlen(reinterpret_cast<const char*>(bytes.data()));
  std::memcpy(sText, bytes.data(), iPlain + 1);
  return true;
}

std::string MaskText(const std::string& sPlain, const char* sKind) {
  std::vector<unsigned char> bytes(sPlain.begin(), sPlain.end());
  ApplyMask(bytes.data(), bytes.size(), sKind);
  std::string sOut;
  Base64Encode(bytes.data(), bytes.size(), sOut, false);
  return sOut;
}

bool DecryptQuery(const std::string& sParameter, const std::string& sCheckSum,
                  QueryParameters* parameters) {
  char sBuffer[kMaxParameterLength + 1] = {};
  char sComputed[512] = {};
  const std::size_t iLength = std::strlen(sParameter.c_str());
  if (iLength > kMaxParameterLength) {
    QV_LOG("Utility::DecryptQuery", 3, kSource,
           "sParameter is too long: %u characters, at most %u are accepted",
           static_cast<unsigned>(iLength), static_cast<unsigned>(kMaxParameterLength));
    return false;
  }
  std::memcpy(sBuffer, sParameter.c_str(), iLength);
  UnmaskText(sBuffer, "M");
  SHA1Base64(sBuffer, sComputed, sizeof(sComputed));
  if (sCheckSum != sComputed) {
    // Both are digests of the plain query, so the log shows only their lengths.
    QV_LOG("Utility::DecryptQuery", 3, kSource, "Checksum mismatch: sCheckSum = %s, computed = %s",
           LogMask::Parameter(sCheckSum).c_str(), LogMask::Parameter(sComputed).c_str());
    return false;
  }
  if (parameters != nullptr) parameters->Parse(sBuffer, '&', true);
  return true;
}

void ProtectQuery(const std::string& sPlainQuery, std::string& sParameter, std::string& sCheckSum) {
  sParameter = MaskText(sPlainQuery, "M");
  sCheckSum = SHA1Base64(sPlainQuery);
}

void MakeRandomToken(std::string& sOut) {
  long long iSeed = 0;
  long long iExpected = 0;
  const long long iNow = static_cast<long long>(std::time(nullptr));
  if (g_iTokenSeed.compare_exchange_strong(iExpected, iNow)) {
    iSeed = iNow;
    std::srand(static_cast<unsigned int>(iNow & 0xFFFFFFFF));
  } else {
    iSeed = g_iTokenSeed.fetch_add(1) + 1;
  }
  std::rand();
  std::rand();
  const auto oNow = std::chrono::system_clock::now().time_since_epoch();
  const long long iMilliseconds =
      static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(oNow).count());
  const int iSecondField = static_cast<int>((iMilliseconds / 1000) % 60);
  const int iMillisecondField = static_cast<int>(iMilliseconds % 1000);
  const int r = std::rand();

  char sText[96];
  std::snprintf(sText, sizeof(sText), "%lld-%d-%d-%d", iSeed, iSecondField, iMillisecondField, r);
  std::string sToken = SHA1Base64(std::string(sText));
  sToken += std::to_string(g_iTokenSequence.fetch_add(1) + 1);
  for (const char* sRemove : {"+", "\\", "/", "=", "%", "?", "&", "."})
    sToken = ReplaceAll(sToken, sRemove, "");
  sOut = sToken;
}

void AddRandomParameter(std::string& sURL) {
  std::string sToken;
  MakeRandomToken(sToken);
  sURL += sURL.find('?') != std::string::npos ? "&" : "?";
  sURL += kRandomParameterName;
  sURL += sToken;
}

bool AddRandomParameter(char* sURL, std::size_t iURLSize) {
  if (sURL == nullptr) return false;
  const void* pEnd = std::memchr(sURL, '\0', iURLSize);
  if (pEnd == nullptr) return false;  // not terminated inside its buffer
  const std::size_t iLength = static_cast<std::size_t>(static_cast<const char*>(pEnd) - sURL);
  std::string sResult(sURL, iLength);
  AddRandomParameter(sResult);
  if (sResult.size() >= iURLSize) {
    QV_LOG("Utility::AddRandomParameter", 3, kSource,
           "No room for the random parameter: %u bytes needed, %u available, url = %s",
           static_cast<unsigned>(sResult.size() + 1), static_cast<unsigned>(iURLSize), sURL);
    return false;
  }
  std::memcpy(sURL, sResult.c_str(), sResult.size() + 1);
  return true;
}

}  // namespace Utility

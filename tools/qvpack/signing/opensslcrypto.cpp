#include "tools/qvpack/signing/opensslcrypto.h"

#include <fcntl.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace OpensslCrypto {
namespace {

using PackageSignature::kPublicKeySize;
using PackageSignature::kSignatureSize;
constexpr char kGroup[] = "prime256v1";
constexpr std::size_t kCoordinate = 32;

EVP_PKEY* AsKey(void* p) { return static_cast<EVP_PKEY*>(p); }

// Raw X || Y -> a public EVP_PKEY (null when the point is not on the curve).
EVP_PKEY* PublicFromRaw(const PackageSignature::PublicKey& key) {
  unsigned char aPoint[1 + kPublicKeySize];
  aPoint[0] = 0x04;  // uncompressed
  std::memcpy(aPoint + 1, key.a, kPublicKeySize);
  OSSL_PARAM_BLD* pBuild = OSSL_PARAM_BLD_new();
  OSSL_PARAM* pParams = nullptr;
  EVP_PKEY_CTX* pCtx = nullptr;
  EVP_PKEY* pKey = nullptr;
  if (pBuild && OSSL_PARAM_BLD_push_utf8_string(pBuild, OSSL_PKEY_PARAM_GROUP_NAME, kGroup, 0) &&
      OSSL_PARAM_BLD_push_octet_string(pBuild, OSSL_PKEY_PARAM_PUB_KEY, aPoint, sizeof(aPoint)) &&
      (pParams = OSSL_PARAM_BLD_to_param(pBuild)) && (pCtx = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr)) &&
      EVP_PKEY_fromdata_init(pCtx) > 0) {
    if (EVP_PKEY_fromdata(pCtx, &pKey, EVP_PKEY_PUBLIC_KEY, pParams) <= 0) pKey = nullptr;
  }
  // fromdata does not insist on a point of the curve; the check does.
  if (pKey) {
    EVP_PKEY_CTX* pCheck = EVP_PKEY_CTX_new_from_pkey(nullptr, pKey, nullptr);
    if (!pCheck || EVP_PKEY_public_check(pCheck) != 1) {
      EVP_PKEY_free(pKey);
      pKey = nullptr;
    }
    EVP_PKEY_CTX_free(pCheck);
  }
  EVP_PKEY_CTX_free(pCtx);
  OSSL_PARAM_free(pParams);
  OSSL_PARAM_BLD_free(pBuild);
  return pKey;
}

bool IsP256(EVP_PKEY* pKey) {
  char sGroup[64] = {};
  std::size_t n = 0;
  return EVP_PKEY_is_a(pKey, "EC") &&
         EVP_PKEY_get_utf8_string_param(pKey, OSSL_PKEY_PARAM_GROUP_NAME, sGroup, sizeof(sGroup), &n) == 1 &&
         std::strcmp(sGroup, kGroup) == 0;
}

}  // namespace

std::string LastError() {
  const unsigned long e = ERR_get_error();
  ERR_clear_error();
  if (e == 0) return std::string();
  char s[256];
  ERR_error_string_n(e, s, sizeof(s));
  return s;
}

Sha256::Sha256() : m_pContext(EVP_MD_CTX_new()), m_bOk(false) {
  m_bOk = m_pContext && EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(m_pContext), EVP_sha256(), nullptr) == 1;
}

Sha256::~Sha256() { EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(m_pContext)); }

bool Sha256::Update(const void* pData, std::size_t n) {
  if (m_bOk && EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(m_pContext), pData, n) != 1) m_bOk = false;
  return m_bOk;
}

bool Sha256::Finish(std::uint8_t aDigest[PackageSignature::kSha256Size]) {
  unsigned int n = 0;
  if (!m_bOk || EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(m_pContext), aDigest, &n) != 1 ||
      n != PackageSignature::kSha256Size)
    m_bOk = false;
  const bool bOk = m_bOk;
  m_bOk = false;  // once
  return bOk;
}

PackageSignature::SignatureResult Verifier::Verify(const PackageSignature::PublicKey& key, const void* pMessage,
                                                   std::size_t n, const std::uint8_t aSignature[kSignatureSize]) {
  using PackageSignature::SignatureResult;
  EVP_PKEY* pKey = PublicFromRaw(key);
  if (!pKey) {
    ERR_clear_error();
    return SignatureResult::kKeyRejected;
  }
  // r || s -> DER, as OpenSSL takes it.
  SignatureResult result = SignatureResult::kUnavailable;
  ECDSA_SIG* pSig = ECDSA_SIG_new();
  BIGNUM* r = BN_bin2bn(aSignature, kCoordinate, nullptr);
  BIGNUM* s = BN_bin2bn(aSignature + kCoordinate, kCoordinate, nullptr);
  unsigned char* pDer = nullptr;
  int iDer = 0;
  if (pSig && r && s && ECDSA_SIG_set0(pSig, r, s) == 1) {
    r = s = nullptr;  // owned by pSig now
    iDer = i2d_ECDSA_SIG(pSig, &pDer);
  }
  EVP_MD_CTX* pCtx = EVP_MD_CTX_new();
  if (iDer > 0 && pCtx && EVP_DigestVerifyInit(pCtx, nullptr, EVP_sha256(), nullptr, pKey) == 1) {
    const int v = EVP_DigestVerify(pCtx, pDer, static_cast<std::size_t>(iDer),
                                   static_cast<const unsigned char*>(pMessage), n);
    result = v == 1 ? SignatureResult::kValid : v == 0 ? SignatureResult::kInvalid : SignatureResult::kUnavailable;
  }
  EVP_MD_CTX_free(pCtx);
  OPENSSL_free(pDer);
  BN_free(r);
  BN_free(s);
  ECDSA_SIG_free(pSig);
  EVP_PKEY_free(pKey);
  ERR_clear_error();
  return result;
}

PrivateKey::PrivateKey() : m_pKey(nullptr) {}
PrivateKey::~PrivateKey() { EVP_PKEY_free(AsKey(m_pKey)); }

bool PrivateKey::Generate(std::string* pError) {
  EVP_PKEY_free(AsKey(m_pKey));
  m_pKey = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", kGroup);
  if (!m_pKey && pError) *pError = "cannot make a key: " + LastError();
  return m_pKey != nullptr;
}

bool PrivateKey::Load(const std::string& sPath, std::string* pError) {
  std::FILE* pFile = std::fopen(sPath.c_str(), "rb");
  if (!pFile) {
    if (pError) *pError = "cannot open " + sPath + ": " + std::strerror(errno);
    return false;
  }
  EVP_PKEY* pKey = PEM_read_PrivateKey(pFile, nullptr, nullptr, nullptr);
  std::fclose(pFile);
  if (!pKey) {
    if (pError) *pError = sPath + ": no private key read (not PEM, or no pass phrase for it): " + LastError();
    return false;
  }
  if (!IsP256(pKey)) {
    EVP_PKEY_free(pKey);
    if (pError) *pError = sPath + " is not an ECDSA P-256 key";
    return false;
  }
  EVP_PKEY_free(AsKey(m_pKey));
  m_pKey = pKey;
  return true;
}

bool PrivateKey::SaveNew(const std::string& sPath, std::string* pError) const {
  const int fd = ::open(sPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (pError) *pError = "cannot create " + sPath + ": " + std::strerror(errno);
    return false;
  }
  ::fchmod(fd, 0600);  // whatever the umask left
  std::FILE* pFile = ::fdopen(fd, "wb");
  bool bOk = pFile && PEM_write_PrivateKey(pFile, AsKey(m_pKey), nullptr, nullptr, 0, nullptr, nullptr) == 1;
  if (pFile) {
    if (std::fclose(pFile) != 0) bOk = false;
  } else {
    ::close(fd);
  }
  if (!bOk) {
    ::unlink(sPath.c_str());
    if (pError) *pError = "cannot write " + sPath + ": " + LastError();
  }
  return bOk;
}

bool PrivateKey::PublicKeyOf(PackageSignature::PublicKey* pKey) const {
  unsigned char aPoint[1 + kPublicKeySize + 1];
  std::size_t n = 0;
  if (!m_pKey ||
      EVP_PKEY_get_octet_string_param(AsKey(m_pKey), OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, aPoint, sizeof(aPoint), &n) !=
          1 ||
      n != 1 + kPublicKeySize || aPoint[0] != 0x04)
    return false;
  std::memcpy(pKey->a, aPoint + 1, kPublicKeySize);
  return true;
}

bool PrivateKey::Sign(const std::string& sMessage, std::uint8_t aSignature[kSignatureSize], std::string* pError) const {
  EVP_MD_CTX* pCtx = EVP_MD_CTX_new();
  unsigned char aDer[128];
  std::size_t iDer = sizeof(aDer);
  bool bOk = pCtx && m_pKey && EVP_DigestSignInit(pCtx, nullptr, EVP_sha256(), nullptr, AsKey(m_pKey)) == 1 &&
             EVP_DigestSign(pCtx, aDer, &iDer, reinterpret_cast<const unsigned char*>(sMessage.data()),
                            sMessage.size()) == 1;
  EVP_MD_CTX_free(pCtx);
  ECDSA_SIG* pSig = nullptr;
  if (bOk) {
    const unsigned char* p = aDer;
    pSig = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(iDer));
    bOk = pSig && BN_bn2binpad(ECDSA_SIG_get0_r(pSig), aSignature, kCoordinate) == kCoordinate &&
          BN_bn2binpad(ECDSA_SIG_get0_s(pSig), aSignature + kCoordinate, kCoordinate) == kCoordinate;
  }
  ECDSA_SIG_free(pSig);
  if (!bOk && pError) *pError = "cannot sign: " + LastError();
  return bOk;
}

}  // namespace OpensslCrypto

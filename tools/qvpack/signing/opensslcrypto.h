#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "code/utility/protect/packagesignature.h"

// The operator side of package signatures, with OpenSSL: keys, signing,
// and the same checks the starter makes with CNG. Linux builds only.
namespace OpensslCrypto {

class Sha256 : public PackageSignature::Sha256Hasher {
 public:
  Sha256();
  ~Sha256() override;
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  bool Update(const void* pData, std::size_t n) override;
  bool Finish(std::uint8_t aDigest[PackageSignature::kSha256Size]) override;

 private:
  void* m_pContext;  // EVP_MD_CTX
  bool m_bOk;
};

class Verifier : public PackageSignature::SignatureVerifier {
 public:
  PackageSignature::SignatureResult Verify(const PackageSignature::PublicKey& key, const void* pMessage,
                                           std::size_t n,
                                           const std::uint8_t aSignature[PackageSignature::kSignatureSize]) override;
};

// A private P-256 key.
class PrivateKey {
 public:
  PrivateKey();
  ~PrivateKey();
  PrivateKey(const PrivateKey&) = delete;
  PrivateKey& operator=(const PrivateKey&) = delete;

  bool Generate(std::string* pError);
  // Reads a PEM file (PKCS#8 or traditional); refuses any key but ECDSA P-256.
  bool Load(const std::string& sPath, std::string* pError);
  // Writes the PEM to a new file readable and writable by its owner only;
  // an existing file is never replaced.
  bool SaveNew(const std::string& sPath, std::string* pError) const;
  bool PublicKeyOf(PackageSignature::PublicKey* pKey) const;
  // ECDSA over SHA-256 of the message, as r || s.
  bool Sign(const std::string& sMessage, std::uint8_t aSignature[PackageSignature::kSignatureSize],
            std::string* pError) const;

 private:
  void* m_pKey;  // EVP_PKEY
};

// The last OpenSSL error as text ("" when there is none).
std::string LastError();

}  // namespace OpensslCrypto

#pragma once
#include <string>
#include <vector>

#include "code/utility/protect/packagesignature.h"

// SHA-256 and ECDSA P-256 through the system's CNG (bcrypt.dll). The
// library is loaded at run time from the system folder by its full path,
// so a starter still starts on a system without it (Windows XP); there
// every hash and check reports failure and a keyed build refuses packages.
namespace CngCrypto {

// Whether bcrypt.dll and every function used here could be found.
bool Available();

class Sha256 : public PackageSignature::Sha256Hasher {
 public:
  Sha256();
  ~Sha256() override;
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  bool Update(const void* pData, std::size_t n) override;
  bool Finish(std::uint8_t aDigest[PackageSignature::kSha256Size]) override;
  // The status of the call that failed (0 while none has; -1 without bcrypt.dll).
  long Status() const { return m_iStatus; }

 private:
  void* m_hAlgorithm = nullptr;
  void* m_hHash = nullptr;
  std::vector<unsigned char> m_aObject;  // the hash object's own memory
  long m_iStatus = 0;
  bool m_bFinished = false;
};

class Verifier : public PackageSignature::SignatureVerifier {
 public:
  PackageSignature::SignatureResult Verify(const PackageSignature::PublicKey& key, const void* pMessage,
                                           std::size_t n,
                                           const std::uint8_t aSignature[PackageSignature::kSignatureSize]) override;
  long Status() const { return m_iStatus; }

 private:
  long m_iStatus = 0;
};

}  // namespace CngCrypto

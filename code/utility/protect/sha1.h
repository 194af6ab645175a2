#pragma once
#include <cstddef>
#include <cstdint>

// SHA-1 (FIPS 180-1), kept small and self-contained.
class SHA1Context {
 public:
  static constexpr std::size_t kDigestSize = 20;

  SHA1Context() { Reset(); }
  void Reset();
  void Update(const void* pData, std::size_t iLength);
  // Pads, writes the digest and leaves the context reset.
  void Final(unsigned char digest[kDigestSize]);

 private:
  void Compress(const unsigned char* pBlock);

  std::uint32_t m_iLengthLow;   // message length in bytes, low word
  std::uint32_t m_iLengthHigh;  // carries of the low word
  std::uint32_t m_aState[5];
  unsigned char m_aBlock[64];
};

// Digest of a byte range in one call.
void SHA1Digest(const void* pData, std::size_t iLength, unsigned char digest[SHA1Context::kDigestSize]);

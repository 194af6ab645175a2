#include "code/utility/protect/sha1.h"

#include <cstring>

namespace {
inline std::uint32_t Rotl(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
}  // namespace

void SHA1Context::Reset() {
  m_iLengthLow = 0;
  m_iLengthHigh = 0;
  m_aState[0] = 0x67452301u;
  m_aState[1] = 0xEFCDAB89u;
  m_aState[2] = 0x98BADCFEu;
  m_aState[3] = 0x10325476u;
  m_aState[4] = 0xC3D2E1F0u;
  std::memset(m_aBlock, 0, sizeof(m_aBlock));
}

void SHA1Context::Compress(const unsigned char* pBlock) {
  std::uint32_t w[80];
  for (int i = 0; i < 16; ++i)
    w[i] = (std::uint32_t(pBlock[4 * i]) << 24) | (std::uint32_t(pBlock[4 * i + 1]) << 16) |
           (std::uint32_t(pBlock[4 * i + 2]) << 8) | std::uint32_t(pBlock[4 * i + 3]);
  for (int i = 16; i < 80; ++i) w[i] = Rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);

  std::uint32_t a = m_aState[0], b = m_aState[1], c = m_aState[2], d = m_aState[3], e = m_aState[4];
  for (int i = 0; i < 80; ++i) {
    std::uint32_t f, k;
    if (i < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999u;
    } else if (i < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1u;
    } else if (i < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDCu;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6u;
    }
    const std::uint32_t t = Rotl(a, 5) + f + e + k + w[i];
    e = d;
    d = c;
    c = Rotl(b, 30);
    b = a;
    a = t;
  }
  m_aState[0] += a;
  m_aState[1] += b;
  m_aState[2] += c;
  m_aState[3] += d;
  m_aState[4] += e;
}

void SHA1Context::Update(const void* pData, std::size_t iLength) {
  if (pData == nullptr || iLength == 0) return;
  const unsigned char* p = static_cast<const unsigned char*>(pData);
  std::size_t iUsed = m_iLengthLow & 63;
  // Byte count as two words; the high word takes the carries.
  const std::uint64_t iAdd = iLength;
  const std::uint32_t iOldLow = m_iLengthLow;
  m_iLengthLow += static_cast<std::uint32_t>(iAdd);
  m_iLengthHigh += static_cast<std::uint32_t>(iAdd >> 32);
  if (m_iLengthLow < iOldLow) ++m_iLengthHigh;

  if (iUsed > 0) {
    const std::size_t iFill = 64 - iUsed;
    if (iLength < iFill) {
      std::memcpy(m_aBlock + iUsed, p, iLength);
      return;
    }
    std::memcpy(m_aBlock + iUsed, p, iFill);
    Compress(m_aBlock);
    p += iFill;
    iLength -= iFill;
  }
  while (iLength >= 64) {
    Compress(p);
    p += 64;
    iLength -= 64;
  }
  if (iLength > 0) std::memcpy(m_aBlock, p, iLength);
}

void SHA1Context::Final(unsigned char digest[kDigestSize]) {
  // Bit length, taken before the padding changes the count.
  const std::uint32_t iBitsHigh = (m_iLengthHigh << 3) | (m_iLengthLow >> 29);
  const std::uint32_t iBitsLow = m_iLengthLow << 3;
  unsigned char aLength[8];
  for (int i = 0; i < 4; ++i) {
    aLength[i] = static_cast<unsigned char>(iBitsHigh >> (24 - 8 * i));
    aLength[4 + i] = static_cast<unsigned char>(iBitsLow >> (24 - 8 * i));
  }
  static const unsigned char kPadding[64] = {0x80};
  const std::size_t iUsed = m_iLengthLow & 63;
  const std::size_t iPad = iUsed < 56 ? 56 - iUsed : 120 - iUsed;
  Update(kPadding, iPad);
  Update(aLength, 8);
  for (int i = 0; i < 5; ++i) {
    digest[4 * i] = static_cast<unsigned char>(m_aState[i] >> 24);
    digest[4 * i + 1] = static_cast<unsigned char>(m_aState[i] >> 16);
    digest[4 * i + 2] = static_cast<unsigned char>(m_aState[i] >> 8);
    digest[4 * i + 3] = static_cast<unsigned char>(m_aState[i]);
  }
  Reset();
}

void SHA1Digest(const void* pData, std::size_t iLength, unsigned char digest[SHA1Context::kDigestSize]) {
  SHA1Context context;
  context.Update(pData, iLength);
  context.Final(digest);
}

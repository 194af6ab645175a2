#include "code/utility/protect/sha1.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/unit/digestvectors.h"

namespace {

std::string Hex(const unsigned char* p, std::size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s;
  for (std::size_t i = 0; i < n; ++i) {
    s += kDigits[p[i] >> 4];
    s += kDigits[p[i] & 15];
  }
  return s;
}

std::string DigestHex(const std::string& sData) {
  unsigned char digest[SHA1Context::kDigestSize];
  SHA1Digest(sData.data(), sData.size(), digest);
  return Hex(digest, sizeof(digest));
}

// Feeds the data in pieces of iChunk bytes, so buffered and direct block
// paths both run.
std::string ChunkedDigestHex(const std::string& sData, std::size_t iChunk) {
  SHA1Context context;
  for (std::size_t i = 0; i < sData.size(); i += iChunk)
    context.Update(sData.data() + i, std::min(iChunk, sData.size() - i));
  unsigned char digest[SHA1Context::kDigestSize];
  context.Final(digest);
  return Hex(digest, sizeof(digest));
}

TEST(SHA1, PublishedVectors) {
  EXPECT_EQ("a9993e364706816aba3e25717850c26c9cd0d89d", DigestHex("abc"));
  EXPECT_EQ("84983e441c3bd26ebaae4aa1f95129e5e54670f1",
            DigestHex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"));
  EXPECT_EQ("34aa973cd4c4daa4f61eeb2bdbad27316534016f", DigestHex(std::string(1000000, 'a')));
  EXPECT_EQ("34aa973cd4c4daa4f61eeb2bdbad27316534016f", ChunkedDigestHex(std::string(1000000, 'a'), 4093));
  EXPECT_EQ("da39a3ee5e6b4b0d3255bfef95601890afd80709", DigestHex(""));
}

TEST(SHA1, ContextIsReusableAfterFinal) {
  SHA1Context context;
  unsigned char digest[SHA1Context::kDigestSize];
  context.Update("xyz", 3);
  context.Final(digest);
  context.Update("abc", 3);
  context.Final(digest);
  EXPECT_EQ("a9993e364706816aba3e25717850c26c9cd0d89d", Hex(digest, sizeof(digest)));
}

// Vectors written by tests/tools/make_digest_vectors.py with Python's hashlib.
TEST(SHA1, MatchesHashlibOnRandomInputs) {
  const std::vector<DigestVector> vectors = ReadDigestVectors();
  ASSERT_FALSE(vectors.empty());
  for (const DigestVector& v : vectors) {
    EXPECT_EQ(v.sDigest, DigestHex(v.sData)) << v.sData.size() << " bytes";
    for (std::size_t iChunk : {1u, 7u, 63u, 64u, 65u})
      EXPECT_EQ(v.sDigest, ChunkedDigestHex(v.sData, iChunk)) << v.sData.size() << " bytes by " << iChunk;
  }
}

}  // namespace

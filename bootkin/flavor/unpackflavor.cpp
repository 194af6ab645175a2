#include "code/unpackflavor.h"

#include <cstdlib>

#include "code/utility/archive/archive.h"

#ifdef QV_TEST_BUILD
// QV_TEST_UNPACK_BYTE_CAP (bytes, below the shipping cap) lowers the cap, so
// that a test run shows it without writing gigabytes.
std::uint64_t GetUnpackByteCap() {
  const char* sCap = std::getenv("QV_TEST_UNPACK_BYTE_CAP");
  if (sCap != nullptr && *sCap >= '0' && *sCap <= '9') {
    char* pEnd = nullptr;
    const unsigned long long iCap = std::strtoull(sCap, &pEnd, 10);
    if (*pEnd == '\0' && iCap > 0 && iCap < PackageArchive::kMaxInflatedBytes) return iCap;
  }
  return PackageArchive::kMaxInflatedBytes;
}
#else
std::uint64_t GetUnpackByteCap() { return PackageArchive::kMaxInflatedBytes; }
#endif

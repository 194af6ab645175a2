// Utility::Base64Decode: never reads past its input or writes past its
// capacity; encoding what it decoded and decoding again gives the same bytes.
#include <cstring>
#include <memory>
#include <string>

#include "code/utility/text/encoding.h"
#include "tests/fuzz/fuzzinput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exactly sized copy without terminator.
  std::unique_ptr<char[]> input(new char[size ? size : 1]);
  if (size) std::memcpy(input.get(), data, size);
  const size_t iNeeded = Utility::Base64DecodedLength(input.get(), size);
  FUZZ_CHECK(iNeeded <= size);

  std::unique_ptr<unsigned char[]> out(new unsigned char[iNeeded ? iNeeded : 1]);
  size_t iCount = 12345;
  FUZZ_CHECK(Utility::Base64Decode(input.get(), size, out.get(), iNeeded, iCount));
  FUZZ_CHECK(iCount == iNeeded);
  if (iNeeded > 0) {
    size_t iShort = 12345;
    FUZZ_CHECK(!Utility::Base64Decode(input.get(), size, out.get(), iNeeded - 1, iShort));
    FUZZ_CHECK(iShort == 0);
  }

  std::string sEncoded;
  Utility::Base64Encode(out.get(), iCount, sEncoded, size % 2 == 1);
  const std::string sAgain = Utility::Base64Decode(sEncoded);
  FUZZ_CHECK(sAgain == std::string(reinterpret_cast<const char*>(out.get()), iCount));
  return 0;
}

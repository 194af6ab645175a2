// QueryParameters::Parse on any text and separator: stays inside the buffer,
// keeps only pairs with a usable name, and URL coding round-trips.
#include <cstring>
#include <memory>

#include "code/utility/text/encoding.h"
#include "code/utility/text/queryparameters.h"
#include "tests/fuzz/fuzzinput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const char cSeparator = static_cast<char>(data[0]);
  const bool bDecode = (data[0] & 0x80) != 0;
  std::unique_ptr<char[]> buffer(new char[size]);
  std::memcpy(buffer.get(), data + 1, size - 1);
  buffer[size - 1] = '\0';
  const size_t iLength = std::strlen(buffer.get());

  QueryParameters parameters;
  parameters.Parse(buffer.get(), cSeparator, bDecode);
  FUZZ_CHECK(std::strlen(buffer.get()) <= iLength);
  for (const auto& item : parameters) {
    FUZZ_CHECK(!item.first.empty());
    if (!bDecode) FUZZ_CHECK(item.first.size() <= 511 && item.first.find('=') == std::string::npos);
  }

  const std::string sText(reinterpret_cast<const char*>(data + 1), size - 1);
  FUZZ_CHECK(Utility::URLDecode(Utility::URLEncode(sText)) == sText);
  return 0;
}

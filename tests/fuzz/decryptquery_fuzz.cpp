// Utility::DecryptQuery on any parameter and checksum, and on a query
// protected by ProtectQuery, which must come back as a plain parse gives it.
#include <string>

#include "code/utility/protect/queryprotection.h"
#include "code/utility/text/queryparameters.h"
#include "tests/fuzz/fuzzinput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> f = FuzzFields(data, size, 2);
  QueryParameters parameters;
  parameters.Set("kept", "1");
  if (!Utility::DecryptQuery(f[0], f[1], &parameters)) FUZZ_CHECK(parameters.Size() == 1);

  // The sender's side: what it protects is accepted and parsed unchanged.
  const std::string sPlain = std::string(reinterpret_cast<const char*>(data), size).c_str();
  std::string sParameter, sCheckSum;
  Utility::ProtectQuery(sPlain, sParameter, sCheckSum);
  QueryParameters decrypted, expected;
  const bool bAccepted = Utility::DecryptQuery(sParameter, sCheckSum, &decrypted);
  FUZZ_CHECK(bAccepted == (sParameter.size() <= Utility::kMaxParameterLength));
  if (bAccepted) {
    expected.Parse(sPlain, '&', true);
    FUZZ_CHECK(decrypted.Items() == expected.Items());
  }
  return 0;
}

// TagText::Extract / Replace: never past the caller's buffer, and the bounded
// forms agree with the growable ones.
#include <cstring>
#include <memory>

#include "code/utility/text/tagtext.h"
#include "tests/fuzz/fuzzinput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t iCapacity = data[0] % 64 + 1;
  std::vector<std::string> f = FuzzFields(data + 1, size - 1, 4);
  // Tags and value end at their first NUL, as C strings do.
  for (auto& s : f) s = s.c_str();
  const char* sText = f[0].c_str();
  const char* sStart = f[1].c_str();
  const char* sEnd = f[2].c_str();
  const char* sValue = f[3].c_str();

  // Exactly sized heap blocks: any write past them is caught.
  std::unique_ptr<char[]> out(new char[iCapacity]);
  std::string sGrown;
  const bool bFound = TagText::Extract(sText, sStart, sEnd, out.get(), iCapacity);
  const bool bGrown = TagText::Extract(sText, sStart, sEnd, sGrown);
  if (bFound) FUZZ_CHECK(bGrown && sGrown == out.get());
  else FUZZ_CHECK(out[0] == '\0' && (!bGrown || sGrown.size() >= iCapacity));

  std::memset(out.get(), 'u', iCapacity);
  out[iCapacity - 1] = '\0';
  const std::string sBefore(out.get());
  std::string sReplaced;
  const bool bReplaced = TagText::Replace(sText, sValue, sStart, sEnd, out.get(), iCapacity);
  const bool bGrownReplaced = TagText::Replace(sText, sValue, sStart, sEnd, sReplaced);
  if (bReplaced) FUZZ_CHECK(bGrownReplaced && sReplaced == out.get());
  else FUZZ_CHECK(sBefore == out.get() && (!bGrownReplaced || sReplaced.size() >= iCapacity));
  return 0;
}

#include <gtest/gtest.h>

#include <string>

#include "code/setuphandler/embeddedsettings.h"

namespace {
const std::string kMarker(EmbeddedSettings::kMarker, EmbeddedSettings::kMarkerLength);

std::string FindIn(const std::string& sFile, EmbeddedSettings::Outcome& eOutcome) {
  char sSetting[4096];
  eOutcome = EmbeddedSettings::Find(sFile.data(), sFile.size(), sSetting, sizeof(sSetting));
  return sSetting;
}
}  // namespace

TEST(EmbeddedSettingsFind, Table) {
  using O = EmbeddedSettings::Outcome;
  const std::string sRole = "<__Role__>host</__Role__>";
  struct Case {
    const char* sName;
    std::string sFile;
    O eOutcome;
    std::string sSetting;
  } aCases[] = {
      {"plain copy: marker then zero", std::string("MZ..") + kMarker + std::string(1, '\0') + "rest", O::Decoded, ""},
      {"no marker", "MZ just code", O::NoMarker, ""},
      {"appended block", std::string("MZ") + kMarker + '\0' + "code" + EmbeddedSettings::MakeBlock(sRole), O::Decoded,
       sRole},
      {"later block wins",
       "MZ" + EmbeddedSettings::MakeBlock("<__Role__>a</__Role__>") + EmbeddedSettings::MakeBlock(sRole), O::Decoded,
       sRole},
      {"no zero byte: read to the end", "MZ" + kMarker + "PF9fUm9sZV9fPg==", O::Decoded, "<__Role__>"},
      {"CR LF between groups", "MZ" + kMarker + "PF9f\r\nUm9s\r\nZV9fPg==", O::Decoded, "<__Role__>"},
      {"too long", "MZ" + EmbeddedSettings::MakeBlock(std::string(4096, 'x')), O::TooLong, ""},
      {"longest that fits", "MZ" + EmbeddedSettings::MakeBlock(std::string(4095, 'x')), O::Decoded,
       std::string(4095, 'x')},
  };
  for (const auto& c : aCases) {
    O eOutcome;
    EXPECT_EQ(FindIn(c.sFile, eOutcome), c.sSetting) << c.sName;
    EXPECT_EQ(eOutcome, c.eOutcome) << c.sName;
  }
}

TEST(EmbeddedSettingsMakeBlock, MarkerBase64LinesAndZero) {
  const std::string sBlock = EmbeddedSettings::MakeBlock(std::string(100, 'a'));
  ASSERT_EQ(sBlock.compare(0, kMarker.size(), kMarker), 0);
  EXPECT_EQ(sBlock.back(), '\0');
  const std::string sBase64 = sBlock.substr(kMarker.size(), sBlock.size() - kMarker.size() - 1);
  EXPECT_EQ(sBase64.find('\n'), 76u);
  EXPECT_EQ(sBase64.size(), 136u + 1u);
}

#include "code/utility/archive/membername.h"

#include <gtest/gtest.h>

using PackageArchive::NameVerdict;

TEST(CheckMemberName, Verdicts) {
  struct Case {
    const char* name;
    NameVerdict verdict;
  } cases[] = {
      {"QVInstaller.exe", NameVerdict::kOk},
      {"bin\\sub\\x.dll", NameVerdict::kOk},
      {"bin/sub/x.dll", NameVerdict::kOk},
      {"a..b\\.hidden\\x..", NameVerdict::kOk},
      {"cons\\console.txt", NameVerdict::kOk},
      {"con.d\\x", NameVerdict::kDeviceName},
      {"Gr\xC3\xBC\xC3\x9F" "e.txt", NameVerdict::kOk},
      {"", NameVerdict::kEmpty},
      {"a\\\\b", NameVerdict::kEmpty},
      {"a\\", NameVerdict::kEmpty},
      {"..", NameVerdict::kTraversal},
      {"..\\x", NameVerdict::kTraversal},
      {"a\\..\\..\\x", NameVerdict::kTraversal},
      {"a/../../x", NameVerdict::kTraversal},
      {"a\\.\\x", NameVerdict::kTraversal},
      {"...\\x", NameVerdict::kTraversal},
      {"a\\.. \\x", NameVerdict::kTraversal},
      {"\\windows\\x", NameVerdict::kAbsolute},
      {"/etc/passwd", NameVerdict::kAbsolute},
      {"\\\\server\\share\\x", NameVerdict::kAbsolute},
      {"//server/share/x", NameVerdict::kAbsolute},
      {"C:\\x", NameVerdict::kColon},
      {"Z:tmp\\x", NameVerdict::kColon},
      {"x.exe:stream", NameVerdict::kColon},
      {"a\\b:$DATA", NameVerdict::kColon},
      {"a\x01" "b", NameVerdict::kBadCharacter},
      {"a?b", NameVerdict::kBadCharacter},
      {"a*", NameVerdict::kBadCharacter},
      {"a<b>|\"", NameVerdict::kBadCharacter},
      {"NUL", NameVerdict::kDeviceName},
      {"bin\\con.txt", NameVerdict::kDeviceName},
      {"Com1", NameVerdict::kDeviceName},
      {"lpt9.log", NameVerdict::kDeviceName},
      {"aux .txt", NameVerdict::kDeviceName},
      {"CONOUT$", NameVerdict::kDeviceName},
      {"COM\xC2\xB9", NameVerdict::kDeviceName},  // superscript digits one to three
      {"com\xC2\xB2.txt", NameVerdict::kDeviceName},
      {"bin\\LPT\xC2\xB3 .log", NameVerdict::kDeviceName},
      {"LPT\xC2\xB9\\x", NameVerdict::kDeviceName},
      {"COM\xE2\x81\xB4", NameVerdict::kOk},  // superscript four is no device
      {"COM\xC2\xB9x", NameVerdict::kOk},
      {"COM\xC2\xB0", NameVerdict::kOk},
      {"x.exe.QVPart", NameVerdict::kReserved},
      {"a\xFF" "b", NameVerdict::kNotUtf8},
      {"\xC0\xAE\xC0\xAE\\x", NameVerdict::kNotUtf8},  // overlong ".."
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PackageArchive::CheckMemberName(c.name), c.verdict) << c.name;
  }
}

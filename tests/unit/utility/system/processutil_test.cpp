#include "code/utility/system/processutil.h"

#include "code/utility/text/asciitext.h"

#include <gtest/gtest.h>

TEST(SplitCommandLine, ProgramAndRest) {
  struct Case {
    const char* sCommandLine;
    const char* sExecutable;
    const char* sParameter;
  } aCases[] = {
      {"\"C:\\Program Files\\Q\\Quorumvessel.exe\" --program C:\\a b\\rsp1024hcmd.txt",
       "C:\\Program Files\\Q\\Quorumvessel.exe", "--program C:\\a b\\rsp1024hcmd.txt"},
      {"   C:\\x\\setup.exe   -q  -v", "C:\\x\\setup.exe", "-q  -v"},
      {"C:\\x\\setup.exe", "C:\\x\\setup.exe", ""},
      {"\"C:\\x y\\setup.exe\"", "C:\\x y\\setup.exe", ""},
      // Every quote and blank after the closing quote is skipped.
      {"\"C:\\a.exe\" \" \"arg\" two", "C:\\a.exe", "arg\" two"},
      {"\"C:\\no end quote.exe -x", "C:\\no end quote.exe -x", ""},
      {"", "", ""},
      {"    ", "", ""},
  };
  for (const auto& c : aCases) {
    std::string sExecutable = "old";
    std::string sParameter = "old";
    Utility::SplitCommandLine(c.sCommandLine, sExecutable, sParameter);
    EXPECT_EQ(sExecutable, c.sExecutable) << c.sCommandLine;
    EXPECT_EQ(sParameter, c.sParameter) << c.sCommandLine;
  }
}

TEST(ProcessNameMatches, OnlyTheExactQuotedNameMatches) {
  struct Case {
    const char* sTarget;
    const char* sName;
    bool bMatch;
  } aCases[] = {
      {"\"Quorumvessel.exe\"", "Quorumvessel.exe", true},
      {"\"Quorumvessel.exe\"", "QUORUMVESSEL.EXE", true},
      // Tails and parts of a target name are other programs.
      {"\"Quorumvessel.exe\"", "l.exe", false},
      {"\"Quorumvessel.exe\"", "vessel.exe", false},
      {"\"Quorumvessel.exe\"", "Quorumvessel", false},
      {"\"Quorumvessel.exe\"", "Quorumvessel2.exe", false},
      {"\"QVInstaller.exe\"", "QVInstaller.exe", true},
      {"\"QVInstaller.exe\"", "qvinstaller.EXE", true},
      {"\"QVInstaller.exe\"", "r.exe", false},
      {"\"QVInstaller.exe\"", "taller.exe", false},
      {"\"QVInstaller.exe\"", "installer.exe", false},
      {"\"QVInstaller.exe\"", "QVService.exe", false},
      // The name cut by one letter, as some systems report long names.
      {"\"Quorumvessel.ex\"", "Quorumvessel.ex", true},
      {"\"Quorumvessel.ex\"", "Quorumvessel.exe", false},
      {"\"Quorumvessel.ex\"", "vessel.ex", false},
      // A list of quoted names matches each of them.
      {"\"a.exe\" \"QVInstaller.exe\"", "a.exe", true},
      {"\"a.exe\" \"QVInstaller.exe\"", "qvinstaller.exe", true},
      {"\"Quorumvessel.exe\"", "", false},
      // Callers quote the names; a bare one matches nothing.
      {"Quorumvessel.exe", "Quorumvessel.exe", false},
  };
  for (const auto& c : aCases)
    EXPECT_EQ(Utility::ProcessNameMatches(Utility::ToLowerASCII(c.sTarget), c.sName), c.bMatch)
        << c.sTarget << " " << c.sName;
}

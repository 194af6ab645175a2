#include "code/utility/processutil.h"

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

TEST(ToLowerASCII, OnlyLatinCapitalsChange) {
  EXPECT_EQ(Utility::ToLowerASCII("\"QuorumVESSEL.exe\" [Z@]"), "\"quorumvessel.exe\" [z@]");
  // Bytes of other scripts stay as they are.
  EXPECT_EQ(Utility::ToLowerASCII("\xC3\x84X"), "\xC3\x84x");
}

TEST(ProcessNameMatches, NameSearchedInTarget) {
  const std::string sTarget = Utility::ToLowerASCII("\"Quorumvessel.exe\"");
  struct Case {
    const char* sName;
    bool bMatch;
  } aCases[] = {
      {"Quorumvessel.exe", true}, {"QUORUMVESSEL.EXE", true}, {"l.exe", true},
      {"vessel.exe", true},       {"Quorumvessel2.exe", false}, {"QVService.exe", false},
      {"", false},
  };
  for (const auto& c : aCases) EXPECT_EQ(Utility::ProcessNameMatches(sTarget, c.sName), c.bMatch) << c.sName;
}

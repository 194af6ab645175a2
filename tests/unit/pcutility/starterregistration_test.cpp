#include "code/pcutility/starterregistration.h"

#include <gtest/gtest.h>

#include "tests/unit/logcapture.h"

TEST(BuildStarterRegistration, TextsForClient) {
  PCUtility::StarterRegistration o;
  ASSERT_TRUE(PCUtility::BuildStarterRegistration("C:\\My Tools\\QuorumvesselStarter.exe", "Quorumvessel", o));
  EXPECT_EQ(o.sKey, "Software\\Classes\\Quorumvessel");
  EXPECT_EQ(o.sURL, "URL:Quorumvessel Starter");
  EXPECT_EQ(o.sCommandKey, "Software\\Classes\\Quorumvessel\\shell\\open\\command");
  EXPECT_EQ(o.sCommand, "\"C:\\My Tools\\QuorumvesselStarter.exe\" %1");
  EXPECT_EQ(o.sProtocolExecuteKey, "Software\\Microsoft\\Internet Explorer\\ProtocolExecute\\Quorumvessel");
}

TEST(BuildStarterRegistration, EmptyClientNameRefused) {
  LogCapture log;
  PCUtility::StarterRegistration o;
  o.sKey = "untouched";
  EXPECT_FALSE(PCUtility::BuildStarterRegistration("C:\\t\\Starter.exe", "", o));
  EXPECT_FALSE(PCUtility::BuildStarterRegistration("C:\\t\\Starter.exe", nullptr, o));
  EXPECT_EQ(o.sKey, "untouched");
  ASSERT_EQ(log.entries().size(), 2u);
  EXPECT_EQ(log.entries()[0].sMessage, "empty sClientName, nothing registered for sStarterFile = C:\\t\\Starter.exe");
  EXPECT_EQ(log.entries()[0].sFunction, "PCUtility:RegisterStarter()");
  EXPECT_EQ(log.entries()[0].sSource, "code/pcutility/pcutility");
}

TEST(BuildStarterRegistration, TextsOverLimitRefusedNotCut) {
  // The command text is the longest: the path plus three quotes and " %1"
  // minus one quote; it reaches 511 bytes with a 506-byte path.
  const std::string sFits(506, 'p');
  const std::string sTooLong(507, 'p');
  PCUtility::StarterRegistration o;
  EXPECT_TRUE(PCUtility::BuildStarterRegistration(sFits.c_str(), "Q", o));
  EXPECT_EQ(o.sCommand.size(), 511u);

  LogCapture log;
  PCUtility::StarterRegistration oRefused;
  EXPECT_FALSE(PCUtility::BuildStarterRegistration(sTooLong.c_str(), "Q", oRefused));
  EXPECT_TRUE(oRefused.sKey.empty());
  EXPECT_TRUE(log.Contains("sCommand is 512 bytes, longer than 511: \"" + sTooLong + "\" %1"));

  // A client name long enough for the browser key (the longest key).
  const std::string sName(511 - std::string("Software\\Microsoft\\Internet Explorer\\ProtocolExecute\\").size() + 1, 'n');
  EXPECT_FALSE(PCUtility::BuildStarterRegistration("C:\\s.exe", sName.c_str(), oRefused));
  EXPECT_TRUE(log.Contains("sProtocolExecuteKey is 512 bytes, longer than 511: "
                           "Software\\Microsoft\\Internet Explorer\\ProtocolExecute\\" + sName));
}

TEST(BuildStarterRegistration, OnlyPlainClientNamesAreRegistered) {
  // The client name is whatever the file name holds before "Starter"; only
  // letters and digits may become a key under Software\Classes.
  struct Case {
    const char* sName;
    bool bPlain;
  };
  const Case kCases[] = {
      {"Quorumvessel", true}, {"Q", true}, {"acme2", true}, {"7", true},
      {"exefile", true},  // plain: the existing-class check refuses it
      {"acme-", false}, {".exe", false}, {"Word.Document.8", false}, {"a b", false},
      {"CLSID\\{00000000-0000-0000-0000-000000000000}", false}, {"..\\..\\Environment", false},
      {"a/b", false}, {"Gr\xC3\xBC\xC3\x9F", false}, {"x:", false}, {"a_b", false}, {"%1", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.sName);
    EXPECT_EQ(PCUtility::IsPlainClientName(c.sName), c.bPlain);
    LogCapture log;
    PCUtility::StarterRegistration o;
    EXPECT_EQ(PCUtility::BuildStarterRegistration("C:\\dl\\xStarter.exe", c.sName, o), c.bPlain);
    if (c.bPlain) {
      EXPECT_EQ(o.sKey, std::string("Software\\Classes\\") + c.sName);
      EXPECT_TRUE(log.entries().empty());
    } else {
      EXPECT_TRUE(o.sKey.empty());
      ASSERT_EQ(log.entries().size(), 1u);
      EXPECT_EQ(log.entries()[0].sMessage, std::string("sClientName = ") + c.sName +
                                               " is not a plain name, nothing registered for sStarterFile = "
                                               "C:\\dl\\xStarter.exe");
      EXPECT_EQ(log.entries()[0].iSeverity, 3);
    }
  }
  EXPECT_FALSE(PCUtility::IsPlainClientName(""));
  EXPECT_FALSE(PCUtility::IsPlainClientName(std::string("a\0b", 3)));
}

TEST(JudgeExistingClass, OnlyAStartersOwnProtocolIsRegisteredAgain) {
  using PCUtility::ExistingClass;
  struct Case {
    bool bHasUrlProtocol;
    const char* sDescription;
    const char* sClientName;
    ExistingClass eExpected;
  };
  const Case kCases[] = {
      {true, "URL:Quorumvessel Starter", "Quorumvessel", ExistingClass::kStarter},
      {true, "url:QUORUMVESSEL starter", "Quorumvessel", ExistingClass::kStarter},  // keys ignore case
      {true, "URL:Quorumvessel Starter", "quorumvessel", ExistingClass::kStarter},
      {true, "URL:Quorumvessel Protocol", "Quorumvessel", ExistingClass::kOtherProtocol},
      {true, "URL:Quorumvessel Starter ", "Quorumvessel", ExistingClass::kOtherProtocol},
      {true, "URL:Acme Starter", "Quorumvessel", ExistingClass::kOtherProtocol},
      {true, "", "http", ExistingClass::kOtherProtocol},
      {true, "URL:HyperText Transfer Protocol", "http", ExistingClass::kOtherProtocol},
      {false, "URL:Quorumvessel Starter", "Quorumvessel", ExistingClass::kNotProtocol},
      {false, "Application", "exefile", ExistingClass::kNotProtocol},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(PCUtility::JudgeExistingClass(c.bHasUrlProtocol, c.sDescription, c.sClientName), c.eExpected)
        << c.bHasUrlProtocol << " " << c.sDescription << " " << c.sClientName;
  }
}

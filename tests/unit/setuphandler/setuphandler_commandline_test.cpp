#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "code/setuphandler/setupstate.h"
#include "code/utility/text/encoding.h"
#include "code/utility/text/queryparameters.h"
#include "tests/unit/logcapture.h"

namespace {
// Text of 29 elements with the given values in table order; the flag rows
// take what is given.
std::string Expected(const std::vector<std::pair<const char*, std::string>>& aValues) {
  static const char* const kElements[] = {
      "AccountServerIP", "AccountServerPort", "MeetingPassword", "MeetingId", "MeetingType", "Role",
      "Version", "Publisher", "AboutURL", "AttendeeName", "Email", "AttendeeEmail", "UserPassword",
      "PassThrough", "ClientName", "PublisherURL", "PublisherName", "OEMId", "OEMCompanyName",
      "OEMCompanyURL", "PoweredByFieldName", "MainIcon", "MinorIcon", "LoginTitle", "IsPanelist",
      "ClientHideServerAddress", "RecognizeManufacturer", "MyProductType", "MyProductSubType"};
  std::string s;
  for (const char* sElement : kElements) {
    std::string sValue;
    if (std::strcmp(sElement, "ClientHideServerAddress") == 0) sValue = "N";
    if (std::strcmp(sElement, "RecognizeManufacturer") == 0) sValue = "Y";
    for (const auto& v : aValues)
      if (std::strcmp(v.first, sElement) == 0) sValue = v.second;
    s += std::string("<__") + sElement + "__>" + sValue + "</__" + sElement + "__>";
  }
  return s;
}

struct FixtureLink {
  std::string sCase;
  std::string sMaker;
  std::string sLink;
};

// Links made by qvlink make and by the independent link helper
// (tests/tools/make_setting_links.py).
std::vector<FixtureLink> FixtureLinks() {
  std::ifstream in(std::string(QV_SOURCE_DIR) + "/tests/unit/data/setting_links.txt", std::ios::binary);
  std::vector<FixtureLink> aLinks;
  std::string sLine;
  while (std::getline(in, sLine)) {
    if (sLine.empty() || sLine[0] == '#') continue;
    const std::size_t i = sLine.find('\t');
    const std::size_t j = sLine.find('\t', i + 1);
    aLinks.push_back({sLine.substr(0, i), sLine.substr(i + 1, j - i - 1), sLine.substr(j + 1)});
  }
  return aLinks;
}

std::string FixtureLinkFor(const std::string& sCase) {
  for (const auto& o : FixtureLinks())
    if (o.sCase == sCase) return o.sLink;
  ADD_FAILURE() << "no fixture link " << sCase;
  return "";
}

// The value of one item of a link's query, as it stands.
std::string ItemOf(const std::string& sLink, const std::string& sName) {
  const std::size_t i = sLink.find(sName + "=");
  const std::size_t j = sLink.find('&', i);
  return sLink.substr(i + sName.size() + 1, j == std::string::npos ? std::string::npos : j - i - sName.size() - 1);
}

const std::vector<std::pair<const char*, std::string>> kFullValues = {
    {"AccountServerIP", "127.0.0.2"}, {"AccountServerPort", "8889"}, {"MeetingPassword", "m&p=1"},
    {"MeetingId", "42"}, {"MeetingType", "1"}, {"Role", "host"}, {"Version", "5.2.1"}, {"Publisher", "Pub Co"},
    {"AboutURL", "http://127.0.0.2/about?a=1&b=2"}, {"AttendeeName", "Ann B\xC3\xA9"},
    {"Email", "ann@example.test"}, {"AttendeeEmail", "ann@example.test"}, {"UserPassword", "u p+w"},
    {"PassThrough", "pt"}, {"ClientName", "Quorumvessel"}, {"PublisherURL", "http://127.0.0.2/about?a=1&b=2"},
    {"PublisherName", "Pub Co"}, {"OEMId", "Pallida"}, {"OEMCompanyName", "OEM"},
    {"OEMCompanyURL", "http://127.0.0.3/"}, {"PoweredByFieldName", "Powered"}, {"MainIcon", "main.ico"},
    {"MinorIcon", "minor.ico"}, {"LoginTitle", "Welcome"}, {"IsPanelist", "1"},
    {"ClientHideServerAddress", "Y"}, {"RecognizeManufacturer", "N"}, {"MyProductType", "pt1"},
    {"MyProductSubType", "st2"}};

std::string Process(SetupState& o, const std::string& sCommandLine) {
  std::strncpy(o.m_sCommandLine, sCommandLine.c_str(), sizeof(o.m_sCommandLine) - 1);
  char sSetting[4096] = {};
  o.ProcessCommandLine(sSetting);
  return sSetting;
}
}  // namespace

TEST(BuildSetting, RowsAndFlagRules) {
  struct Case {
    const char* sName;
    const char* sQuery;
    std::vector<std::pair<const char*, std::string>> aValues;
  } aCases[] = {
      {"email feeds two", "email=x", {{"Email", "x"}, {"AttendeeEmail", "x"}}},
      {"publisher feeds two", "publisher_url=u&publisher_name=p",
       {{"AboutURL", "u"}, {"PublisherURL", "u"}, {"Publisher", "p"}, {"PublisherName", "p"}}},
      {"flags exact", "client_hide_server_address=Y&recognize_manufacturer=N",
       {{"ClientHideServerAddress", "Y"}, {"RecognizeManufacturer", "N"}}},
      {"flags lower case", "client_hide_server_address=y&recognize_manufacturer=n", {}},
      {"flags other", "client_hide_server_address=Yes&recognize_manufacturer=No", {}},
      {"names case-sensitive", "Role=host&EMAIL=x", {}},
      {"plst and ports", "plst=1&port=443&account_server_ip=127.0.0.2",
       {{"IsPanelist", "1"}, {"AccountServerPort", "443"}, {"AccountServerIP", "127.0.0.2"}}},
      {"no trimming", "role= host &name=A%20B", {{"Role", " host "}, {"AttendeeName", "A B"}}},
  };
  for (const auto& c : aCases) {
    QueryParameters o;
    o.Parse(std::string(c.sQuery), '&', true);
    EXPECT_EQ(SetupState::BuildSetting(o), Expected(c.aValues)) << c.sName;
  }
}

TEST(ProcessCommandLine, LinksFromBothMakers) {
  const std::map<std::string, std::string> kExpected = {
      {"full", Expected(kFullValues)},
      {"email_only", Expected({{"Email", "x"}, {"AttendeeEmail", "x"}})},
      {"flags_lower_case", Expected({})},
      {"flags_other", Expected({})},
      {"names_case_sensitive", Expected({{"Role", "guest"}})},
      {"unknown_names_ignored", Expected({{"Role", "host"}})},
  };
  const auto aLinks = FixtureLinks();
  ASSERT_EQ(aLinks.size(), 2 * kExpected.size());
  for (const auto& o : aLinks) {
    LogCapture log;
    SetupState oState;
    EXPECT_EQ(Process(oState, o.sLink), kExpected.at(o.sCase)) << o.sCase << " by " << o.sMaker;
    EXPECT_TRUE(oState.m_bCalledByCommandLine);
    // The parser works on copies: the whole link stays for the installer.
    EXPECT_EQ(std::string(oState.m_sCommandLine), o.sLink);
    // Only the first attempt: sp and chk arrive URL-encoded.
    EXPECT_EQ(log.messages().size(), 2u) << o.sCase;
  }
}

TEST(ProcessCommandLine, LogShowsNoSecrets) {
  LogCapture log;
  SetupState o;
  const std::string sLink = FixtureLinkFor("full");
  Process(o, sLink);
  const std::string sParameter = ItemOf(sLink, "sp");
  const auto aMessages = log.messages();
  ASSERT_EQ(aMessages.size(), 2u);
  // The checksum is a digest of the plain query: only its length is logged.
  EXPECT_EQ(aMessages[0], "sParameter = " + std::to_string(Utility::URLDecode(sParameter).size()) +
                              ", sCheckSum = 28");
  auto aMasked = kFullValues;
  for (auto& v : aMasked)
    if (std::strcmp(v.first, "MeetingPassword") == 0 || std::strcmp(v.first, "UserPassword") == 0)
      v.second = "********";
  EXPECT_EQ(aMessages[1], "sSetting = " + Expected(aMasked));
  for (const auto& s : aMessages) {
    EXPECT_EQ(s.find("m&p=1"), std::string::npos) << s;
    EXPECT_EQ(s.find("u p+w"), std::string::npos) << s;
    EXPECT_EQ(s.find(sParameter.substr(0, 12)), std::string::npos) << s;
    EXPECT_EQ(s.find(ItemOf(sLink, "chk").substr(0, 12)), std::string::npos) << s;
  }
}

TEST(ProcessCommandLine, Failures) {
  const std::string sLink = FixtureLinkFor("email_only");
  const std::string sParameter = ItemOf(sLink, "sp");
  const std::string sDecodedLength = std::to_string(Utility::URLDecode(sParameter).size());
  const std::string sRawLength = std::to_string(sParameter.size());
  struct Case {
    const char* sName;
    std::string sCommandLine;
    std::vector<std::string> aLines;
  } aCases[] = {
      {"no colon", "--called_by_client_to_sync", {"Missing :, invalid m_sCommandLine = --called_by_client_to_sync"}},
      {"no colon, sp hidden", sLink.substr(sLink.find(':') + 1),
       {"Missing :, invalid m_sCommandLine = sp=" + sRawLength + "&chk=" +
        std::to_string(ItemOf(sLink, "chk").size())}},
      {"bad checksum", "Quorumvessel:sp=" + sParameter + "&chk=AAAA",
       {"sParameter = " + sDecodedLength + ", sCheckSum = 4",
        "No URLdecoding: sParameter = " + sRawLength + ", sCheckSum = 4",
        "Utility::DecryptQuery() failed. sParameter = " + sRawLength + ", sCheckSum = 4"}},
      {"no items", "Quorumvessel:",
       {"sParameter = 0, sCheckSum = 0", "No URLdecoding: sParameter = 0, sCheckSum = 0"}},
  };
  for (const auto& c : aCases) {
    LogCapture log;
    SetupState o;
    std::strncpy(o.m_sCommandLine, c.sCommandLine.c_str(), sizeof(o.m_sCommandLine) - 1);
    char sSetting[4096] = "untouched";
    o.ProcessCommandLine(sSetting);
    EXPECT_STREQ(sSetting, "untouched") << c.sName;
    EXPECT_TRUE(o.m_bCalledByCommandLine) << c.sName;
    for (const auto& sLine : c.aLines) EXPECT_TRUE(log.Contains(sLine)) << c.sName << ": " << sLine;
  }
}

TEST(ProcessCommandLine, SecondAttemptWithoutURLDecoding) {
  // The same link with sp and chk not URL-encoded: the "+" in chk becomes a
  // blank when decoded, so only the second attempt matches.
  const std::string sLink = FixtureLinkFor("unknown_names_ignored");
  const std::string sParameter = Utility::URLDecode(ItemOf(sLink, "sp"));
  const std::string sCheckSum = Utility::URLDecode(ItemOf(sLink, "chk"));
  ASSERT_NE(sCheckSum.find('+'), std::string::npos);
  LogCapture log;
  SetupState o;
  EXPECT_EQ(Process(o, "Quorumvessel:sp=" + sParameter + "&chk=" + sCheckSum), Expected({{"Role", "host"}}));
  const std::string sLength = std::to_string(sParameter.size());
  EXPECT_TRUE(log.Contains("sParameter = " + sLength + ", sCheckSum = 28"));
  EXPECT_TRUE(log.Contains("No URLdecoding: sParameter = " + sLength + ", sCheckSum = 28"));
}

TEST(ProcessCommandLine, LastOccurrenceOfSpAndChkWins) {
  const std::string sLink = FixtureLinkFor("names_case_sensitive");
  SetupState o;
  const std::string sQuery = sLink.substr(sLink.find(':') + 1);
  EXPECT_EQ(Process(o, "Quorumvessel:sp=bogus&chk=bogus&x=1&" + sQuery), Expected({{"Role", "guest"}}));
  SetupState oLater;
  EXPECT_EQ(Process(oLater, sLink + "&sp=bogus"), "");
}

TEST(ProcessCommandLine, TooLongForTheBufferIsRefused) {
  LogCapture log;
  SetupState o;
  std::strncpy(o.m_sCommandLine, FixtureLinkFor("full").c_str(), sizeof(o.m_sCommandLine) - 1);
  char sSmall[256] = "untouched";
  o.ProcessCommandLine(sSmall, sizeof(sSmall));
  EXPECT_STREQ(sSmall, "untouched");
  EXPECT_TRUE(log.Contains("Refused sSetting: " + std::to_string(Expected(kFullValues).size()) +
                           " bytes do not fit 255"));
}

TEST(ParseSetting, MembersFromTheSettings) {
  struct Case {
    const char* sName;
    const char* sSetting;
    const char* sServer;
    int iPort;
    const char* sClient;
    const char* sVersion;
    const char* sSid;
  } aCases[] = {
      {"defaults kept", "<__Role__>host</__Role__>", "", 8889, "Quorumvessel", "", ""},
      {"all", "<__AccountServerIP__>127.0.0.2</__AccountServerIP__><__AccountServerPort__> +443x</__AccountServerPort__>"
              "<__ClientName__>Acme</__ClientName__><__Version__>5.2.1</__Version__><__StarterSid__>s1</__StarterSid__>",
       "127.0.0.2", 443, "Acme", "5.2.1", "s1"},
      {"port without digits", "<__AccountServerPort__>abc</__AccountServerPort__>", "", 0, "Quorumvessel", "", ""},
  };
  for (const auto& c : aCases) {
    SetupState o;
    o.ParseSetting(c.sSetting);
    EXPECT_STREQ(o.m_sAccountServerName, c.sServer) << c.sName;
    EXPECT_EQ(o.m_iAccountServerPort, c.iPort) << c.sName;
    EXPECT_STREQ(o.m_sClientName, c.sClient) << c.sName;
    EXPECT_STREQ(o.m_sVersion, c.sVersion) << c.sName;
    EXPECT_STREQ(o.m_sStarterSid, c.sSid) << c.sName;
    EXPECT_STREQ(o.m_sSetting, c.sSetting) << c.sName;
  }
}

TEST(ParseSetting, SidEmptiedAndVersionTextSet) {
  SetupState o;
  o.ParseSetting("<__StarterSid__>abc</__StarterSid__><__Version__>9</__Version__>");
  EXPECT_STREQ(o.m_sStarterSid, "abc");
  o.ParseSetting("<__Role__></__Role__>");
  EXPECT_STREQ(o.m_sStarterSid, "");
  EXPECT_STREQ(o.m_sVersion, "9");
}

TEST(ParseSetting, OverlongValuesRefused) {
  LogCapture log;
  SetupState o;
  const std::string sSid(200, 's');
  const std::string sServer(600, 'h');
  o.ParseSetting(("<__StarterSid__>" + sSid + "</__StarterSid__><__AccountServerIP__>" + sServer +
                  "</__AccountServerIP__>")
                     .c_str());
  EXPECT_STREQ(o.m_sStarterSid, "");
  EXPECT_STREQ(o.m_sAccountServerName, "");
  EXPECT_TRUE(log.Contains("Refused StarterSid: 200 bytes do not fit 127"));
  EXPECT_TRUE(log.Contains("Refused AccountServerIP: 600 bytes do not fit 511"));
  const std::string sHuge = "<__Role__>" + std::string(9000, 'r') + "</__Role__>";
  o.ParseSetting(sHuge.c_str());
  EXPECT_STREQ(o.m_sSetting, "");
}

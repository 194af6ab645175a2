// What a launch link may and may not do: its values never add settings or
// lines, its client name and version stay usable as parts of folder paths,
// flags inside it are ignored, and an installer too short for the whole
// link gets the link's last item.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "code/setuphandler/setupstate.h"
#include "code/utility/protect/queryprotection.h"
#include "code/utility/text/encoding.h"
#include "code/utility/text/queryparameters.h"
#include "code/utility/text/tagtext.h"
#include "tests/unit/logcapture.h"

namespace {
std::string Element(const std::string& sSetting, const std::string& sName) {
  std::string sValue;
  EXPECT_TRUE(TagText::Extract(sSetting.c_str(), ("<__" + sName + "__>").c_str(), ("</__" + sName + "__>").c_str(),
                               sValue))
      << sName;
  return sValue;
}

// A link as a web page would make it for the plain query.
std::string LinkFor(const std::string& sPlainQuery, const std::string& sTail = "") {
  std::string sParameter, sCheckSum;
  Utility::ProtectQuery(sPlainQuery, sParameter, sCheckSum);
  return "Quorumvessel:sp=" + Utility::URLEncode(sParameter) + "&chk=" + Utility::URLEncode(sCheckSum) + sTail;
}

const char kTagOrBreak[] = "the value holds a tag, a line break or a NUL byte";
}  // namespace

TEST(BuildSetting, UnsafeValuesLeaveTheirElementEmpty) {
  struct Case {
    const char* sName;
    std::string sQuery;  // URL-encoded, as the decrypted query carries it
    std::vector<std::pair<std::string, std::string>> aElements;
    std::vector<std::string> aLogged;
  } aCases[] = {
      {"start tag", "name=Eve%3C__StarterSid__%3Ex%3C%2F__StarterSid__%3E&meeting_id=7",
       {{"AttendeeName", ""}, {"MeetingId", "7"}},
       {std::string("Refused name: ") + kTagOrBreak}},
      {"end tag alone", "role=host%3C%2F__Role__%3E", {{"Role", ""}}, {std::string("Refused role: ") + kTagOrBreak}},
      {"CR LF", "meeting_id=1%0D%0A%3C__X__%3E", {{"MeetingId", ""}}, {std::string("Refused meeting_id: ") + kTagOrBreak}},
      {"LF alone", "pass_through=a%0Ab", {{"PassThrough", ""}}, {std::string("Refused pass_through: ") + kTagOrBreak}},
      {"CR alone", "login_title=a%0Db", {{"LoginTitle", ""}}, {std::string("Refused login_title: ") + kTagOrBreak}},
      {"NUL", "user_password=a%00b", {{"UserPassword", ""}}, {std::string("Refused user_password: ") + kTagOrBreak}},
      // One key that feeds two elements is named once.
      {"two elements", "email=a%0Ab", {{"Email", ""}, {"AttendeeEmail", ""}},
       {std::string("Refused email: ") + kTagOrBreak}},
      {"flag falls back to its default", "client_hide_server_address=Y%0A&recognize_manufacturer=N%3C__",
       {{"ClientHideServerAddress", "N"}, {"RecognizeManufacturer", "Y"}},
       {std::string("Refused client_hide_server_address: ") + kTagOrBreak,
        std::string("Refused recognize_manufacturer: ") + kTagOrBreak}},
      {"near misses are taken", "name=a%3C_b%3E__%3E%09c&login_title=%3C%2F_x",
       {{"AttendeeName", "a<_b>__>\tc"}, {"LoginTitle", "</_x"}}, {}},

      {"plain client name", "client_name=Acme+Client-2_v.1", {{"ClientName", "Acme Client-2_v.1"}}, {}},
      {"client name climbing up", "client_name=..%5C..%5CWindows", {{"ClientName", ""}},
       {"Refused client_name: not a plain name"}},
      {"client name with dots inside", "client_name=a..b", {{"ClientName", ""}},
       {"Refused client_name: not a plain name"}},
      {"client name with a slash", "client_name=a%2Fb", {{"ClientName", ""}}, {"Refused client_name: not a plain name"}},
      {"client name with a colon", "client_name=C%3Ax", {{"ClientName", ""}}, {"Refused client_name: not a plain name"}},
      {"client name with a star", "client_name=a*", {{"ClientName", ""}}, {"Refused client_name: not a plain name"}},
      {"client name beyond ASCII", "client_name=Qu%C3%B6rum", {{"ClientName", ""}},
       {"Refused client_name: not a plain name"}},
      {"client name with a tag", "client_name=%3C__x", {{"ClientName", ""}},
       {std::string("Refused client_name: ") + kTagOrBreak}},

      {"version word", "version=5.2.1-beta%2B7_x", {{"Version", "5.2.1-beta+7_x"}}, {}},
      {"version with a blank", "version=5.2.1+x", {{"Version", ""}}, {"Refused version: not a version word"}},
      {"version climbing up", "version=..%5Cx", {{"Version", ""}}, {"Refused version: not a version word"}},
      {"version with a slash", "version=5%2F1", {{"Version", ""}}, {"Refused version: not a version word"}},
      {"version with dots in a row", "version=1..2", {{"Version", ""}}, {"Refused version: not a version word"}},
      {"empty values", "client_name=&version=", {{"ClientName", ""}, {"Version", ""}}, {}},
  };
  for (const auto& c : aCases) {
    QueryParameters oQuery;
    oQuery.Parse(c.sQuery, '&', true);
    LogCapture log;
    const std::string sSetting = SetupState::BuildSetting(oQuery);
    for (const auto& e : c.aElements) EXPECT_EQ(Element(sSetting, e.first), e.second) << c.sName << ": " << e.first;
    EXPECT_EQ(log.messages(), c.aLogged) << c.sName;
    for (const auto& e : log.entries()) EXPECT_EQ(e.sFunction, "SetupHandler::ProcessCommandLine");
    // Still the 29 elements, no more, each on no line of its own.
    std::size_t iCount = 0;
    for (std::size_t i = 0; (i = sSetting.find("</__", i)) != std::string::npos; ++i) ++iCount;
    EXPECT_EQ(iCount, 29u) << c.sName;
    EXPECT_EQ(sSetting.find_first_of(std::string("\r\n\0", 3)), std::string::npos) << c.sName;
  }
}

TEST(ProcessCommandLine, LinkCannotGiveAStarterSid) {
  SetupState o;
  const std::string sLink = LinkFor(
      "role=attendee&version=5.1.0&name=" +
      Utility::URLEncode("Eve<__StarterSid__>x</__StarterSid__><__AccountServerIP__>evil</__AccountServerIP__>") +
      "&account_server_ip=127.0.0.2&client_name=" + Utility::URLEncode("..\\..\\Users"));
  std::strncpy(o.m_sCommandLine, sLink.c_str(), sizeof(o.m_sCommandLine) - 1);
  char sSetting[4096] = {};
  LogCapture log;
  o.ProcessCommandLine(sSetting);
  o.ParseSetting(sSetting);
  EXPECT_STREQ(o.m_sStarterSid, "");
  EXPECT_STREQ(o.m_sAccountServerName, "127.0.0.2");
  EXPECT_STREQ(o.m_sClientName, "");
  EXPECT_STREQ(o.m_sVersion, "5.1.0");
  EXPECT_EQ(std::string(sSetting).find("evil"), std::string::npos);
  EXPECT_TRUE(log.Contains(std::string("Refused name: ") + kTagOrBreak));
  EXPECT_TRUE(log.Contains("Refused client_name: not a plain name"));
}

TEST(IsProtocolLink, SchemeAndColonAtTheStart) {
  struct Case {
    const char* sCommandLine;
    bool bLink;
  } aCases[] = {
      {"Quorumvessel:--called_by_downloader", true},
      {"quorumvessel:sp=1&chk=2", true},
      {"Acme-2.x+y:abc", true},
      {"\"Quorumvessel:sp=1\"", true},
      {"  Quorumvessel:", true},
      {"--called_by_downloader", false},
      {"--called_by_client_to_sync Quorumvessel:x", false},
      // A drive letter is no scheme.
      {"C:\\Users\\--called_by_client_to_sync", false},
      {"2qv:x", false},
      {"Quorum vessel:x", false},
      {"Quorum_vessel:x", false},
      {"", false},
      {nullptr, false},
  };
  for (const auto& c : aCases)
    EXPECT_EQ(SetupState::IsProtocolLink(c.sCommandLine), c.bLink) << (c.sCommandLine ? c.sCommandLine : "null");
}

TEST(CalledByFlag, HonouredOnlyOutsideLinks) {
  using CalledBy = SetupState::CalledBy;
  const std::string sDownloader = "Ignored --called_by_downloader in a protocol link";
  const std::string sClientToSync = "Ignored --called_by_client_to_sync in a protocol link";
  struct Case {
    std::string sCommandLine;
    CalledBy eCalledBy;
    std::vector<std::string> aLogged;
  } aCases[] = {
      {"--called_by_downloader", CalledBy::kDownloader, {}},
      {"--called_by_client_to_sync", CalledBy::kClientToSync, {}},
      {"--called_by_client_to_sync --called_by_downloader", CalledBy::kDownloader, {}},
      {"", CalledBy::kNone, {}},
      {"Quorumvessel:sp=1&chk=2", CalledBy::kNone, {}},
      {"Quorumvessel:--called_by_downloader", CalledBy::kNone, {sDownloader}},
      {"quorumvessel:--called_by_client_to_sync", CalledBy::kNone, {sClientToSync}},
      {LinkFor("role=host", "&x=--called_by_client_to_sync"), CalledBy::kNone, {sClientToSync}},
      {"Quorumvessel:--called_by_downloader&--called_by_client_to_sync", CalledBy::kNone,
       {sDownloader, sClientToSync}},
  };
  for (const auto& c : aCases) {
    SetupState o;
    std::strncpy(o.m_sCommandLine, c.sCommandLine.c_str(), sizeof(o.m_sCommandLine) - 1);
    LogCapture log;
    EXPECT_EQ(o.CalledByFlag("SetupHandler::InitializeSetup"), c.eCalledBy) << c.sCommandLine;
    EXPECT_EQ(log.messages(), c.aLogged) << c.sCommandLine;
    for (const auto& e : log.entries()) EXPECT_EQ(e.sFunction, "SetupHandler::InitializeSetup");
  }
}

TEST(LinkRemainder, SchemeColonAndLastItem) {
  struct Case {
    const char* sCommandLine;
    const char* sRemainder;
  } aCases[] = {
      {"Quorumvessel:sp=abc&chk=x%3D", "Quorumvessel:chk=x%3D"},
      {"Quorumvessel:sp=a&pad=yyy", "Quorumvessel:pad=yyy"},
      {"Quorumvessel:sp=abc&chk=x&&", "Quorumvessel:chk=x"},
      {"Quorumvessel:&a=1", "Quorumvessel:&a=1"},
      {"Quorumvessel:noequals", "Quorumvessel:noequals"},
      {"Quorumvessel:", "Quorumvessel:"},
      {"--called_by_client_to_sync", "--called_by_client_to_sync"},
  };
  for (const auto& c : aCases) EXPECT_EQ(SetupState::LinkRemainder(c.sCommandLine), c.sRemainder) << c.sCommandLine;
}

TEST(InstallerCommandLine, WholeLinkWhenItFitsElseItsLastItem) {
  const std::string sInstaller = "C:\\users\\u\\Temp\\qv_starter_dir\\QVInstaller.exe";
  const std::string sQuoted = "\"" + sInstaller + "\" ";
  const std::size_t kCapacity = 2048;  // UTF-16 units, terminator included
  const std::string sLong = LinkFor("role=host&name=" + std::string(2250, 'n'));
  ASSERT_GT(sLong.size(), 3000u);
  const std::string sCheckSum = sLong.substr(sLong.find("&chk=") + 1);
  // Exactly at the limit: 2047 units, more bytes than that (é takes two).
  const std::string sPad = "Quorumvessel:sp=a&pad=";
  const std::string sAtLimit = sPad + std::string(2047 - sQuoted.size() - sPad.size() - 100, 'x') +
                               [] { std::string s; for (int i = 0; i < 100; ++i) s += "\xC3\xA9"; return s; }();
  struct Case {
    const char* sName;
    std::string sCommandLine;
    std::string sExpected;
    std::vector<std::string> aLogged;
  } aCases[] = {
      {"short link", "Quorumvessel:sp=abc&chk=x%3D", sQuoted + "Quorumvessel:sp=abc&chk=x%3D", {}},
      {"empty", "", sQuoted, {}},
      {"long link", sLong, sQuoted + "Quorumvessel:" + sCheckSum,
       {"sStartProcess does not fit 2047 characters, passing on " + sQuoted + "Quorumvessel:chk=" +
        std::to_string(sCheckSum.size() - 4)}},
      {"at the limit", sAtLimit, sQuoted + sAtLimit, {}},
      {"one past the limit", sAtLimit + "x", sQuoted + "Quorumvessel:pad=" + sAtLimit.substr(sPad.size()) + "x",
       {"sStartProcess does not fit 2047 characters, passing on " + sQuoted + "Quorumvessel:pad=" +
        sAtLimit.substr(sPad.size()) + "x"}},
      // Not a link: nothing to shorten it to; the start refuses it.
      {"long flags", "--called_by_client_to_sync " + std::string(2100, 'f'),
       sQuoted + "--called_by_client_to_sync " + std::string(2100, 'f'), {}},
  };
  for (const auto& c : aCases) {
    SetupState o;
    std::strncpy(o.m_sCommandLine, c.sCommandLine.c_str(), sizeof(o.m_sCommandLine) - 1);
    LogCapture log;
    EXPECT_EQ(o.InstallerCommandLine(sInstaller, kCapacity), c.sExpected) << c.sName;
    EXPECT_EQ(log.messages(), c.aLogged) << c.sName;
    // The link itself stays whole for anything else that reads it.
    EXPECT_EQ(std::string(o.m_sCommandLine), c.sCommandLine) << c.sName;
  }
}

#include "code/utility/protect/accountservers.h"

#include <gtest/gtest.h>

#include <string>

using AccountServers::Decision;

namespace {
const char kSetting[] = "conference.example.com, .example.net;192.0.2.10 Meet.Example.ORG.";
}

TEST(AccountServers, MatchesHostsDomainsAndAddresses) {
  struct Case {
    const char* host;
    bool allowed;
  } cases[] = {
      // exact host names, any ASCII case, one trailing dot
      {"conference.example.com", true},
      {"CONFERENCE.Example.Com", true},
      {"conference.example.com.", true},
      {"conference.example.com..", false},
      {"example.com", false},
      {"a.conference.example.com", false},
      {"conference.example.com.evil.test", false},
      {"xconference.example.com", false},
      {"meet.example.org", true},
      {"meet.example.org.", true},
      // a domain entry: the domain and names under it, at a dot boundary only
      {"example.net", true},
      {"eu.example.net", true},
      {"a.b.c.Example.NET.", true},
      {"badexample.net", false},
      {"example.net.evil.test", false},
      {".example.net", false},
      {"eu..example.net", false},
      // addresses compare exactly, in their one dotted-decimal spelling
      {"192.0.2.10", true},
      {"192.0.2.100", false},
      {"192.0.2.1", false},
      {"192.0.2.010", false},
      {"192.0.02.10", false},
      {"3221226042", false},
      {"0xc0.0.2.10", false},
      {"192.0.2.10.", false},
      {"192.0.2", false},
      // anything that is not a plain host name
      {"", false},
      {".", false},
      {"conference.example.com:443", false},
      {"conference.example.com/x", false},
      {"user@conference.example.com", false},
      {" conference.example.com", false},
      {"conference.example.com ", false},
      {"conference .example.com", false},
      {"[::1]", false},
      {"-eu.example.net", false},
      {"eu-.example.net", false},
      {"eu_1.example.net", false},
      {"\xc3\xa9u.example.net", false},
  };
  AccountServers::List list;
  std::string error;
  ASSERT_TRUE(AccountServers::ParseList(kSetting, &list, &error)) << error;
  ASSERT_EQ(list.iCount, 4u);
  for (const auto& c : cases) EXPECT_EQ(AccountServers::Matches(list, c.host), c.allowed) << "[" << c.host << "]";
  EXPECT_FALSE(AccountServers::Matches(list, nullptr));

  // A host of exactly 253 characters (and its trailing dot) still matches a domain.
  std::string longHost;
  while (longHost.size() + 62 + 12 < 253) longHost += std::string(61, 'a') + ".";
  longHost += std::string(253 - 12 - longHost.size(), 'b') + ".example.net";
  ASSERT_EQ(longHost.size(), 253u);
  EXPECT_TRUE(AccountServers::Matches(list, longHost.c_str()));
  EXPECT_TRUE(AccountServers::Matches(list, (longHost + ".").c_str()));
  EXPECT_FALSE(AccountServers::Matches(list, ("b" + longHost).c_str()));
  // labels of at most 63 characters
  EXPECT_TRUE(AccountServers::Matches(list, (std::string(63, 'x') + ".example.net").c_str()));
  EXPECT_FALSE(AccountServers::Matches(list, (std::string(64, 'x') + ".example.net").c_str()));
}

TEST(AccountServers, RefusesMalformedSettings) {
  struct Case {
    std::string setting;
    const char* error;  // start of the message, or null when the setting is good
  } cases[] = {
      {"", nullptr},
      {" , ;", nullptr},
      {"localhost", nullptr},
      {"10.0.0.1,10.0.0.2", nullptr},
      {".com", nullptr},
      {"*.example.com", "not a host name, .domain or IPv4 address: \"*.example.com\" (write .domain"},
      {"example.com:8889", "not a host name, .domain or IPv4 address: \"example.com:8889\" (IPv6 addresses and ports"},
      {"::1", "not a host name, .domain or IPv4 address: \"::1\" (IPv6"},
      {"..example.com", "not a host name, .domain or IPv4 address: \"..example.com\""},
      {".", "not a host name, .domain or IPv4 address: \".\""},
      {"256.1.1.1", "not a host name, .domain or IPv4 address: \"256.1.1.1\""},
      {"10.0.0", "not a host name, .domain or IPv4 address: \"10.0.0\""},
      {"010.0.0.1", "not a host name, .domain or IPv4 address: \"010.0.0.1\""},
      {"https://example.com",
       "not a host name, .domain or IPv4 address: \"https://example.com\" (write the host name alone, without a "
       "scheme or a path)"},
      {"example.com/as", "not a host name, .domain or IPv4 address: \"example.com/as\" (write the host name alone"},
      {"ex_ample.com", "not a host name, .domain or IPv4 address: \"ex_ample.com\""},
      {std::string(64, 'a') + ".com", "not a host name, .domain or IPv4 address: \"aaaa"},
      {"a,b,c,d,e,f,g,h,i,j,k,l,m,n,o,p", nullptr},
      {"a,b,c,d,e,f,g,h,i,j,k,l,m,n,o,p,q", "more than 16 account servers"},
  };
  for (const auto& c : cases) {
    AccountServers::List list;
    std::string error;
    const bool ok = AccountServers::ParseList(c.setting.c_str(), &list, &error);
    EXPECT_EQ(ok, c.error == nullptr) << c.setting << ": " << error;
    if (c.error) {
      EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    }
  }
}

TEST(AccountServers, DecidesForTheBuildSetting) {
  EXPECT_EQ(AccountServers::Check("", "anything.example"), Decision::kUnrestricted);
  EXPECT_EQ(AccountServers::Check(" ", "anything.example"), Decision::kUnrestricted);
  EXPECT_EQ(AccountServers::Check(kSetting, "eu.example.net"), Decision::kAllowed);
  EXPECT_EQ(AccountServers::Check(kSetting, "example.com"), Decision::kRefused);
  EXPECT_EQ(AccountServers::Check(kSetting, ""), Decision::kRefused);
  // A list that cannot be read allows nothing rather than everything.
  EXPECT_EQ(AccountServers::Check("example.com,*.bad", "example.com"), Decision::kBadSetting);
}

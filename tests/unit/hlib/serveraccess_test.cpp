#include "code/hlib/serveraccess.h"

#include <gtest/gtest.h>

#include "tests/unit/logcapture.h"

namespace {
// acc.test resolves to 127.0.0.5; counts how often it was asked.
struct FakeResolver {
  int iCalls = 0;
  ServerAccess::Resolver Get() {
    return [this](const char* sHost, std::string& sIP) {
      ++iCalls;
      if (std::string(sHost) != "acc.test") return false;
      sIP = "127.0.0.5";
      return true;
    };
  }
};
}  // namespace

TEST(ServerAccessFind, MatchesHostOrResolvedAddressAndPort) {
  const std::string sStore =
      "acc.test\t443\tN\tP\t\t127.0.0.3:8888\n"    // five fields below are ignored
      "other\t80\tN\tD\t\n"
      "127.0.0.5\t80\tN\tL\tNULL\tNULL\n"
      "acc.test\t8889\tY\tS\t<local>\tsocks=127.0.0.4:1080\n"
      "acc.test\t8889\tN\tD\t\t";
  struct Case {
    const char* sIP;
    int iPort;
    int iIndex;  // -1: no match
    char cPType;
    const char* sByPass;
    const char* sPAddress;
  } cases[] = {
      {"acc.test", 443, 0, 'P', "", "127.0.0.3:8888"},  // secure flag not compared
      {"acc.test", 80, 2, 'L', "", ""},                  // by resolved address, NULL read as empty
      {"acc.test", 8889, 3, 'S', "<local>", "socks=127.0.0.4:1080"},  // first match only
      {"other", 80, -1, 0, "", ""},                      // five fields
      {"acc.test", 81, -1, 0, "", ""},
      {"127.0.0.5", 80, 2, 'L', "", ""},
  };
  for (const Case& c : cases) {
    FakeResolver resolver;
    ServerAccess::Setting s;
    EXPECT_EQ(ServerAccess::Find(sStore, c.sIP, c.iPort, resolver.Get(), s), c.iIndex >= 0) << c.sIP << c.iPort;
    EXPECT_EQ(s.iIndex, c.iIndex) << c.sIP << c.iPort;
    if (c.iIndex < 0) continue;
    EXPECT_EQ(s.cPType, c.cPType);
    EXPECT_EQ(s.sByPass, c.sByPass);
    EXPECT_EQ(s.sPAddress, c.sPAddress);
    EXPECT_LE(resolver.iCalls, 1);
  }
  ServerAccess::Setting s;
  EXPECT_FALSE(ServerAccess::Find("", "acc.test", 80, FakeResolver().Get(), s));
}

TEST(ServerAccessRemoveLine, RemovesTheLineThatWasTried) {
  struct Case {
    std::string sStore;
    std::string sLine;
    bool bChanged;
    std::string sAfter;
  } cases[] = {
      {"a\t80\tN\tD\t\t\nb\t80\tN\tP\t\tp:1", "a\t80\tN\tD\t\t", true, "b\t80\tN\tP\t\tp:1"},
      {"a\t80\tN\tD\t\t\nb\t80\tN\tP\t\tp:1", "b\t80\tN\tP\t\tp:1", true, "a\t80\tN\tD\t\t"},
      {"b\t80\tN\tP\tNULL\tp:1", "b\t80\tN\tP\tNULL\tp:1", true, ""},  // stored "NULL" too
      {"b\t80\tN\tP\t\tp:10", "b\t80\tN\tP\t\tp:1", false, "b\t80\tN\tP\t\tp:10"},
  };
  for (Case& c : cases) {
    EXPECT_EQ(ServerAccess::RemoveLine(c.sStore, c.sLine), c.bChanged) << c.sLine;
    EXPECT_EQ(c.sStore, c.sAfter) << c.sLine;
  }
}

TEST(ServerAccessAdd, AppendsReplacesAndKeeps) {
  FakeResolver resolver;
  std::string sStore;
  using R = ServerAccess::AddResult;
  EXPECT_EQ(ServerAccess::Add(sStore, "acc.test", 443, true, 'P', "", "127.0.0.3:8888", resolver.Get()), R::kAdded);
  EXPECT_EQ(sStore, "acc.test\t443\tY\tP\t\t127.0.0.3:8888");
  EXPECT_EQ(resolver.iCalls, 0);  // nothing to compare with yet
  EXPECT_EQ(ServerAccess::Add(sStore, "acc.test", 8889, false, 'D', nullptr, nullptr, resolver.Get()), R::kAdded);
  EXPECT_EQ(ServerAccess::Add(sStore, "acc.test", 8889, false, 'D', "", "", resolver.Get()), R::kPresent);
  // Same host (by its address) and port with another method: replaced in place.
  EXPECT_EQ(ServerAccess::Add(sStore, "127.0.0.5", 443, false, 'L', "", "", resolver.Get()), R::kAdded);
  EXPECT_EQ(ServerAccess::Add(sStore, "acc.test", 443, true, 'D', "", "", resolver.Get()), R::kReplaced);
  EXPECT_EQ(sStore,
            "acc.test\t443\tY\tD\t\t\n"
            "acc.test\t8889\tN\tD\t\t\n"
            "127.0.0.5\t443\tN\tL\t\t");
  // A proxy "p:1" is not taken as present because a line holds "p:10".
  std::string s2 = "h\t80\tN\tP\t\tp:10";
  EXPECT_EQ(ServerAccess::Add(s2, "h", 80, false, 'P', "", "p:1", nullptr), R::kReplaced);
  EXPECT_EQ(s2, "h\t80\tN\tP\t\tp:1");
}

TEST(ServerAccessAdd, RefusesLineBreaksAndLongSettings) {
  {
    LogCapture log;
    std::string sStore = "x";
    EXPECT_EQ(ServerAccess::Add(sStore, "h", 80, false, 'P', "a\nb", "p:1", nullptr), ServerAccess::AddResult::kRefused);
    EXPECT_EQ(sStore, "x");
    EXPECT_TRUE(log.Contains("Do not cache this setting sByPass = a\nb"));
    EXPECT_TRUE(log.Contains("Do not cache this setting sProxyAddress = p:1"));
    EXPECT_EQ(log.entries()[0].sFunction, "HR::AddCache");
    EXPECT_EQ(log.entries()[0].sSource, "code/hlib/hlib");
  }
  struct Case {
    std::size_t iStore, iByPass, iProxy;
    bool bRefused;
  } cases[] = {
      {0, 512, 512, false},   {0, 513, 0, true},      {0, 0, 513, true},
      {3400, 0, 500, false},  {3500, 0, 500, true},
      {3957, 0, 0, false},    {3958, 0, 0, true},  // the line and its "\n" would reach into the headroom
  };
  for (const Case& c : cases) {
    LogCapture log;
    std::string sStore(c.iStore, 'z');
    const std::string sByPass(c.iByPass, 'b'), sProxy(c.iProxy, 'p');
    const auto r = ServerAccess::Add(sStore, "h", 80, false, 'P', sByPass.c_str(), sProxy.c_str(), nullptr);
    EXPECT_EQ(r == ServerAccess::AddResult::kRefused, c.bRefused) << c.iStore << " " << c.iByPass << " " << c.iProxy;
    if (c.bRefused) {
      EXPECT_TRUE(log.Contains("Too long: iByPassLength = " + std::to_string(c.iByPass) + ", iProxyAddressLength = " +
                               std::to_string(c.iProxy) + ", iServerAccessSettingLength = " +
                               std::to_string(c.iStore)));
      EXPECT_EQ(sStore.size(), c.iStore);
    } else {
      EXPECT_LE(sStore.size() + ServerAccess::kHeadroom, ServerAccess::kStoreSize);
    }
  }
}

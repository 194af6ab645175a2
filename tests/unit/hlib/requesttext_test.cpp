#include "code/hlib/requesttext.h"

#include <gtest/gtest.h>

TEST(RequestText, LogFormAndTimeParameter) {
  EXPECT_EQ(RequestText::LogFormOfURL("/as/wapi/ssi?sid=1&myrand11262017=x"), "/as/wapi/ssi");
  EXPECT_EQ(RequestText::LogFormOfURL("/as/wapi/ssi%3Fsid=1"), "/as/wapi/ssi");
  EXPECT_EQ(RequestText::LogFormOfURL("/plain"), "/plain");
  EXPECT_EQ(RequestText::AddTimeParameter("/a?b=1", 1700000000), "/a?b=1&rdm=1700000000");
  EXPECT_EQ(RequestText::AddTimeParameter("/a", 1700000000), "/a?rdm=1700000000");
  // Low 32 bits, signed.
  EXPECT_EQ(RequestText::AddTimeParameter("/a", 0x180000000LL), "/a?rdm=-2147483648");
}

TEST(RequestText, SocketURL) {
  EXPECT_EQ(RequestText::SocketURL("127.0.0.2", 80, "/as/wapi/ssi?x=1"), "http://127.0.0.2/as/wapi/ssi?x=1");
  EXPECT_EQ(RequestText::SocketURL("127.0.0.2", 8889, "/p"), "http://127.0.0.2:8889/p");
  EXPECT_EQ(RequestText::SocketURL("127.0.0.2", 0, "/p"), "http://127.0.0.2/p");
}

TEST(RequestText, ContainsKeywordStaysInsideTheBuffer) {
  const char sFull[8] = {'a', 'b', 'c', 'K', 'E', 'Y', 'x', 'y'};  // no terminator
  EXPECT_TRUE(RequestText::ContainsKeyword(sFull, 8, "KEY"));
  EXPECT_FALSE(RequestText::ContainsKeyword(sFull, 5, "KEY"));
  EXPECT_TRUE(RequestText::ContainsKeyword(sFull, 8, ""));
  EXPECT_FALSE(RequestText::ContainsKeyword("ab\0KEY", 6, "KEY"));  // text ends at the zero byte
}

TEST(RequestText, ScriptQuestion) {
  const char* domains[] = {"svc-a.test", "svc-b.test"};
  struct Case {
    const char* sIP;
    int iPort;
    const char* sURLText;
    const char* sHostText;
  } cases[] = {
      {"127.0.0.2", 80, "http://127.0.0.2/as/wapi/ssi", "http://127.0.0.2"},
      {"127.0.0.2", 443, "https://127.0.0.2/as/wapi/ssi", "https://127.0.0.2"},
      {"127.0.0.2", 8889, "http://127.0.0.2:8889/as/wapi/ssi", "http://127.0.0.2:8889"},
      {"acc.svc-b.test", 8889, "https://public.test/as/wapi/ssi", "https://public.test"},
  };
  for (const Case& c : cases) {
    std::string sURLText, sHostText;
    RequestText::ScriptQuestion(c.sIP, c.iPort, "/as/wapi/ssi", domains, 2, "https://public.test", sURLText,
                                sHostText);
    EXPECT_EQ(sURLText, c.sURLText);
    EXPECT_EQ(sHostText, c.sHostText);
  }
}

TEST(RequestText, ScriptCandidatesInOrder) {
  const std::string sList =
      "PROXY 127.0.0.3:8888; DIRECT;  SOCKS 127.0.0.4:1080 ;BOGUS x;PROXY " + std::string(60, 'h') + ";PROXY p:1";
  const auto v = RequestText::ScriptCandidates(sList.c_str());
  ASSERT_EQ(v.size(), 4u);
  EXPECT_EQ(v[0].cPType, 'P');
  EXPECT_EQ(v[0].sPAddress, "127.0.0.3:8888");
  EXPECT_EQ(v[1].cPType, 'D');
  EXPECT_EQ(v[1].sPAddress, "");
  EXPECT_EQ(v[2].cPType, 'S');
  EXPECT_EQ(v[2].sPAddress, "socks=127.0.0.4:1080");
  EXPECT_EQ(v[3].sPAddress, "p:1");  // the 66-character entry was left out
  EXPECT_TRUE(RequestText::ScriptCandidates("").empty());
}

TEST(RequestText, ProtocolEntry) {
  EXPECT_EQ(RequestText::ProtocolEntry("http=127.0.0.3:8888;https=127.0.0.3:8443", "https="), "https=127.0.0.3:8443");
  EXPECT_EQ(RequestText::ProtocolEntry("https=a:1;socks=b:2", "socks="), "socks=b:2");
  EXPECT_EQ(RequestText::ProtocolEntry("http=a:1", "https="), "");
  EXPECT_EQ(RequestText::ProtocolEntry(("https=" + std::string(58, 'x')).c_str(), "https="), "");
  EXPECT_EQ(RequestText::ProtocolEntry(("https=" + std::string(57, 'x')).c_str(), "https=").size(), 63u);
}

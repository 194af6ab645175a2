#include "code/setuphandler/sizequery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tests/unit/logcapture.h"

namespace {
// Answers per port; a port without an answer fails its request.
struct FakeServer : SizeQuery::Requester {
  std::map<int, std::string> replies;
  std::vector<int> ports;
  std::vector<std::string> urls;
  bool GetPage(int iPort, char* sURL, char* pReply, int iMaxLength, int* piUsedPort) override {
    ports.push_back(iPort);
    std::string sUrl = sURL;
    urls.push_back(sUrl);
    std::strncat(sURL, "&r=1", 8);  // the page request extends the path in place
    *piUsedPort = iPort == 443 ? 80 : iPort;
    std::memset(pReply, 0, iMaxLength);
    auto it = replies.find(iPort);
    if (it == replies.end()) return false;
    std::memcpy(pReply, it->second.data(), std::min<std::size_t>(it->second.size(), iMaxLength));
    return true;
  }
};
}  // namespace

TEST(SizeQuery, ParseClientSize) {
  struct Case {
    const char* reply;
    int size;
  } cases[] = {
      {"<__ClientSize__>1234</__ClientSize__>", 1234},
      {"<__Other__>9</__Other__><__ClientSize__> 77</__ClientSize__>", 77},
      {"1234", 1234},
      {"  \r\n+1234xyz", 1234},
      {"-5", -5},
      {"0", 0},
      {"", 0},
      {"size: 5", 0},
      {"99999999999", 0},
      {"<__ClientSize__>abc</__ClientSize__>", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(SizeQuery::ParseClientSize(c.reply), c.size) << c.reply;
}

TEST(SizeQuery, PortsTriedInOrder) {
  struct Case {
    int first;
    std::vector<int> ports;
  } cases[] = {
      {443, {443, 80, 8889}},
      {80, {80, 443, 8889}},
      {8889, {8889, 443}},
      {8080, {8080, 443, 8889}},
      // A link without a port: the URL without one first (the scheme's default).
      {0, {0, 443, 8889}},
  };
  for (const auto& c : cases) {
    FakeServer server;  // no answer anywhere
    int port = c.first, used = 0;
    LogCapture log;
    EXPECT_EQ(SizeQuery::Query(server, "127.0.0.2", &port, &used), 0);
    EXPECT_EQ(server.ports, c.ports);
    EXPECT_EQ(port, c.ports.back());
    EXPECT_EQ(log.messages().back(), "Failed to download client from: 127.0.0.2:" + std::to_string(port) +
                                         ", iDownloadSize = 0, sDownloadSize = ");
  }
}

TEST(SizeQuery, FirstUsableSizeWinsAndEachAttemptExtendsThePath) {
  FakeServer server;
  server.replies[8889] = "0";
  server.replies[443] = "";
  server.replies[80] = "<__ClientSize__>67108864</__ClientSize__>";
  int port = 8889, used = 0;
  LogCapture log;
  // 8889 says 0, then 443 is empty; starting at 8889 there is no third port.
  EXPECT_EQ(SizeQuery::Query(server, "qv.example", &port, &used), 0);
  EXPECT_EQ(log.messages(), (std::vector<std::string>{
                                "sTempURL = /as/wapi/get_client_size?client_type=0&xml_format=Y&client=pc",
                                "Failed to download client from: qv.example:443, iDownloadSize = 0, sDownloadSize = "}));
  EXPECT_EQ(server.urls, (std::vector<std::string>{"/as/wapi/get_client_size?client_type=0&xml_format=Y&client=pc",
                                                   "/as/wapi/get_client_size?client_type=0&xml_format=Y&client=pc&r=1"}));

  port = 443;
  server.ports.clear();
  server.replies[443] = "0";
  EXPECT_EQ(SizeQuery::Query(server, "qv.example", &port, &used), 67108864);
  EXPECT_EQ(server.ports, (std::vector<int>{443, 80}));
  EXPECT_EQ(port, 80);
  EXPECT_EQ(used, 80);
}

TEST(SizeQuery, PortZeroIsAskedAndMayAnswer) {
  FakeServer server;
  server.replies[0] = "<__ClientSize__>512</__ClientSize__>";
  int port = 0, used = -1;
  EXPECT_EQ(SizeQuery::Query(server, "qv.example", &port, &used), 512);
  EXPECT_EQ(server.ports, std::vector<int>{0});
  EXPECT_EQ(port, 0);
  EXPECT_EQ(used, 0);
}

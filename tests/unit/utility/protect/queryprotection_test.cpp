#include "code/utility/protect/queryprotection.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "code/utility/text/encoding.h"
#include "tests/unit/logcapture.h"

namespace {

const std::string Z(1, '\0');

TEST(SHA1Base64, ChecksumText) {
  char sOut[Utility::kCheckSumTextSize];
  EXPECT_TRUE(Utility::SHA1Base64("abc", sOut, sizeof(sOut)));
  EXPECT_STREQ("qZk+NkcGgWq6PiVxeFDCbJzQ2J0=", sOut);
  EXPECT_EQ("2jmj7l5rSw0yVb/vlWAYkK/YBwk=", Utility::SHA1Base64(std::string()));

  char sSmall[28] = "untouched";
  EXPECT_FALSE(Utility::SHA1Base64("abc", sSmall, sizeof(sSmall)));
  EXPECT_STREQ("", sSmall);
}

struct MaskCase {
  const char* sKind;
  std::size_t iLength;
  std::string sMasked;  // of as many zero bytes: the key bytes where masking applies
};

// The masking rule byte for byte: one byte in every key length + 1 and the
// last byte stay clear.
TEST(ApplyMask, ZeroBytesShowTheKeyPositions) {
  const std::string sM = "$71#@!K458qq6", sA = "#%&lomiduva*#", sL = "$kk#@!mno7pp4";
  const std::string sOther = "Hq42cvNPaZ7ek3TrWbxodLs5Uj9061gM";
  const MaskCase kCases[] = {
      {"M", 13, sM.substr(0, 12) + Z},
      {"M", 14, sM + Z},
      {"M", 16, sM + Z + "$" + Z},
      {"A", 13, sA.substr(0, 12) + Z},
      {"A", 14, sA + Z},
      {"A", 16, sA + Z + "#" + Z},
      {"L", 13, sL.substr(0, 12) + Z},
      {"L", 14, sL + Z},
      {"L", 16, sL + Z + "$" + Z},
      {"other", 32, sOther.substr(0, 31) + Z},
      {"other", 33, sOther + Z},
      {"other", 35, sOther + Z + "H" + Z},
      {"m", 35, sOther + Z + "H" + Z},
      {"", 35, sOther + Z + "H" + Z},
      {"M", 30, sM + Z + sM + Z + "$" + Z},
      {"M", 1, Z},
      {"M", 2, "$" + Z},
  };
  for (const auto& c : kCases) {
    std::vector<unsigned char> data(c.iLength, 0);
    Utility::ApplyMask(data.data(), data.size(), c.sKind);
    EXPECT_EQ(c.sMasked, std::string(data.begin(), data.end())) << c.sKind << " " << c.iLength;
  }
}

TEST(UnmaskText, UndoesMaskText) {
  for (std::size_t n : {0u, 1u, 2u, 13u, 14u, 15u, 16u, 100u, 3000u}) {
    std::string sPlain;
    for (std::size_t i = 0; i < n; ++i) sPlain += static_cast<char>('!' + i % 90);
    for (const char* sKind : {"M", "A", "L", "x"}) {
      const std::string sMasked = Utility::MaskText(sPlain, sKind);
      std::vector<char> buffer(sMasked.begin(), sMasked.end());
      buffer.push_back('\0');
      EXPECT_TRUE(Utility::UnmaskText(buffer.data(), sKind));
      EXPECT_EQ(sPlain, std::string(buffer.data())) << n << " " << sKind;
    }
  }
}

TEST(UnmaskText, PlainTextEndsAtAZeroByte) {
  // "ab" masked with "M" and a zero byte in the clear last position.
  const unsigned char kMasked[] = {'a' ^ '$', 'b' ^ '7', 'c' ^ '1', 0};
  std::string sBase64;
  Utility::Base64Encode(kMasked, sizeof(kMasked), sBase64, false);
  std::vector<char> buffer(sBase64.begin(), sBase64.end());
  buffer.push_back('\0');
  Utility::UnmaskText(buffer.data(), "M");
  EXPECT_STREQ("abc", buffer.data());
}

TEST(DecryptQuery, AcceptsMatchingChecksumAndDecodesPairs) {
  const std::string sPlain = "meeting_id=42&name=J%C3%BCrgen+K&role=host&pass_through=a%26b%3Dc";
  std::string sParameter, sCheckSum;
  Utility::ProtectQuery(sPlain, sParameter, sCheckSum);
  QueryParameters parameters;
  EXPECT_TRUE(Utility::DecryptQuery(sParameter, sCheckSum, &parameters));
  EXPECT_EQ((QueryParameters::Map{{"meeting_id", "42"},
                                  {"name", "J\xc3\xbcrgen K"},
                                  {"role", "host"},
                                  {"pass_through", "a&b=c"}}),
            parameters.Items());
}

// Made by the independent link helper of tests/tools.
TEST(DecryptQuery, AcceptsLinkMadeElsewhere) {
  QueryParameters parameters;
  EXPECT_TRUE(Utility::DecryptQuery(
      "RVRSTDVPP2tGXQMHU3J7XkEecRN8GgUWQV8EJlRYQ1d9GXMMDB4cFFN0TVlWfClFdgAHHgMeWmUZX15QNAclVVhdTDtZK2VZbg==",
      "DFbEjLXPVHScEYP0sb/PIxltztM=", &parameters));
  EXPECT_EQ((QueryParameters::Map{{"account_server_ip", "127.0.0.2"},
                                  {"port", "8889"},
                                  {"meeting_id", "42"},
                                  {"role", "host"},
                                  {"name", "Jo Ann"}}),
            parameters.Items());
}

TEST(DecryptQuery, EmptyParameterMatchesChecksumOfEmptyText) {
  LogCapture log;
  QueryParameters parameters;
  EXPECT_TRUE(Utility::DecryptQuery("", "2jmj7l5rSw0yVb/vlWAYkK/YBwk=", &parameters));
  EXPECT_TRUE(parameters.Empty());
  EXPECT_TRUE(log.entries().empty());
}

TEST(DecryptQuery, MismatchIsLoggedAndLeavesParametersUntouched) {
  std::string sParameter, sCheckSum;
  Utility::ProtectQuery("role=host", sParameter, sCheckSum);
  const struct {
    const char* sName;
    std::string sParameter;
    std::string sCheckSum;
  } kCases[] = {
      {"checksum of other text", sParameter, Utility::SHA1Base64(std::string("role=guest"))},
      {"checksum without its padding", sParameter, Utility::ReplaceAll(sCheckSum, "=", "")},
      {"truncated parameter", sParameter.substr(0, sParameter.size() - 4), sCheckSum},
      {"empty checksum", sParameter, ""},
  };
  for (const auto& c : kCases) {
    LogCapture log;
    QueryParameters parameters;
    parameters.Set("kept", "1");
    EXPECT_FALSE(Utility::DecryptQuery(c.sParameter, c.sCheckSum, &parameters)) << c.sName;
    EXPECT_EQ((QueryParameters::Map{{"kept", "1"}}), parameters.Items()) << c.sName;
    ASSERT_EQ(1u, log.entries().size()) << c.sName;
    const LoggedEntry entry = log.entries()[0];
    EXPECT_EQ("Utility::DecryptQuery", entry.sFunction);
    EXPECT_EQ(3, entry.iSeverity);
    EXPECT_EQ("code/utility/utility", entry.sSource);
    // Checksums are digests of the plain query: the log shows their lengths.
    EXPECT_EQ("Checksum mismatch: sCheckSum = " + std::to_string(c.sCheckSum.size()) + ", computed = 28",
              entry.sMessage)
        << c.sName;
  }
}

TEST(DecryptQuery, OverlongParameterIsRefused) {
  // 4096 base64 characters would not fit the work buffer with its terminator.
  const std::string sLong(4096, 'A');
  LogCapture log;
  QueryParameters parameters;
  EXPECT_FALSE(Utility::DecryptQuery(sLong, Utility::SHA1Base64(std::string()), &parameters));
  EXPECT_TRUE(log.Contains("sParameter is too long: 4096 characters, at most 4095 are accepted"));

  // The longest accepted parameter: plain text of 3069 bytes.
  const std::string sPlain = "a=" + std::string(3067, 'b');
  std::string sParameter, sCheckSum;
  Utility::ProtectQuery(sPlain, sParameter, sCheckSum);
  ASSERT_EQ(4092u, sParameter.size());
  EXPECT_TRUE(Utility::DecryptQuery(sParameter, sCheckSum, &parameters));
  EXPECT_EQ(std::string(3067, 'b'), parameters.GetValue("a"));
}

bool IsAlphanumeric(const std::string& s) {
  for (char c : s)
    if (!std::isalnum(static_cast<unsigned char>(c))) return false;
  return !s.empty();
}

TEST(AddRandomParameter, AppendsNameAndToken) {
  const struct {
    const char* sURL;
    const char* sPrefix;
  } kCases[] = {
      {"/as/wapi/get_client_size", "/as/wapi/get_client_size?myrand11262017="},
      {"/as/wapi/ssi?sid=7", "/as/wapi/ssi?sid=7&myrand11262017="},
      {"", "?myrand11262017="},
  };
  for (const auto& c : kCases) {
    char sURL[128] = {};
    std::memcpy(sURL, c.sURL, std::strlen(c.sURL) + 1);
    ASSERT_TRUE(Utility::AddRandomParameter(sURL, std::strlen(c.sURL) + Utility::kRandomParameterRoom + 1));
    const std::string sResult = sURL;
    ASSERT_EQ(0u, sResult.find(c.sPrefix)) << sResult;
    EXPECT_TRUE(IsAlphanumeric(sResult.substr(std::strlen(c.sPrefix)))) << sResult;
  }
}

TEST(AddRandomParameter, RefusesWhenTheBufferHasNoRoom) {
  LogCapture log;
  char sURL[32] = "/as/wapi/get_client";
  EXPECT_FALSE(Utility::AddRandomParameter(sURL, sizeof(sURL)));
  EXPECT_STREQ("/as/wapi/get_client", sURL);
  ASSERT_EQ(1u, log.entries().size());
  EXPECT_EQ("Utility::AddRandomParameter", log.entries()[0].sFunction);
  EXPECT_EQ(0u, log.entries()[0].sMessage.find("No room for the random parameter: "));
}

TEST(MakeRandomToken, SuccessiveTokensDiffer) {
  std::set<std::string> tokens;
  for (int i = 0; i < 200; ++i) {
    std::string sToken;
    Utility::MakeRandomToken(sToken);
    EXPECT_TRUE(IsAlphanumeric(sToken)) << sToken;
    EXPECT_LE(sToken.size(), 38u);
    tokens.insert(sToken);
  }
  EXPECT_EQ(200u, tokens.size());
}

}  // namespace

#include "code/utility/text/queryparameters.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using Pairs = std::map<std::string, std::string>;

struct ParseCase {
  const char* sName;
  std::string sText;
  char cSeparator;
  bool bDecode;
  Pairs expected;
  std::string sRemainder;  // what the consumed buffer holds afterwards
};

TEST(QueryParametersParse, Cases) {
  const ParseCase kCases[] = {
      {"runs, later wins, unusable segments", "x=1&&y=2=3&z&=4&x=5", '&', true, {{"x", "5"}, {"y", "2=3"}}, "x=5"},
      {"leading separator stays in the name", "&a=1", '&', true, {{"&a", "1"}}, "&a=1"},
      {"two leading separators", "&&a=1", '&', true, {{"a", "1"}}, "a=1"},
      {"trailing separators", "a=1&&", '&', true, {{"a", "1"}}, "a=1"},
      {"empty value", "a=&b=2", '&', true, {{"a", ""}, {"b", "2"}}, "b=2"},
      {"decoded after the split", "a%3Db=c%26d+e&f%20g=%zz", '&', true, {{"a=b", "c&d e"}, {"f g", "%zz"}},
       "f%20g=%zz"},
      {"not decoded", "sp=a%2Bb+c&chk=x%3D", '&', false, {{"sp", "a%2Bb+c"}, {"chk", "x%3D"}}, "chk=x%3D"},
      {"other separator", "a=1;b=2", ';', false, {{"a", "1"}, {"b", "2"}}, "b=2"},
      {"empty", "", '&', true, {}, ""},
      {"only separators", "&&&", '&', true, {}, "&"},
  };
  for (const auto& c : kCases) {
    std::vector<char> buffer(c.sText.begin(), c.sText.end());
    buffer.push_back('\0');
    QueryParameters parameters;
    parameters.Parse(buffer.data(), c.cSeparator, c.bDecode);
    EXPECT_EQ(c.expected, parameters.Items()) << c.sName;
    EXPECT_EQ(c.sRemainder, std::string(buffer.data())) << c.sName;
  }
}

TEST(QueryParametersParse, NameLengthLimit) {
  const std::string s511(511, 'n'), s512(512, 'n');
  QueryParameters parameters;
  parameters.Parse(s511 + "=long&" + s512 + "=too long&a=1", '&', true);
  EXPECT_EQ((Pairs{{s511, "long"}, {"a", "1"}}), parameters.Items());
}

TEST(QueryParametersParse, AddsToWhatTheMapHolds) {
  QueryParameters parameters;
  parameters.Parse(std::string("a=1&b=2"), '&', false);
  parameters.Parse(std::string("b=3&c=4"), '&', false);
  EXPECT_EQ((Pairs{{"a", "1"}, {"b", "3"}, {"c", "4"}}), parameters.Items());
  EXPECT_EQ("3", parameters.GetValue("b"));
  EXPECT_EQ("", parameters.GetValue("B"));
  EXPECT_FALSE(parameters.Contains("B"));
}

}  // namespace

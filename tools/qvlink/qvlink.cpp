// qvlink: makes and reads the protected launch links that start the starter.
//
//   qvlink make [--scheme NAME] [NAME=VALUE ...]   pairs from arguments
//   qvlink make [--scheme NAME] < pairs.txt        pairs from stdin
//   qvlink make [--scheme NAME] --query QUERY      a ready query string
//   qvlink read LINK | -                           check and print the pairs
#include <cstdio>
#include <cstring>
#include <iostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "code/utility/log/logsink.h"
#include "code/utility/protect/queryprotection.h"
#include "code/utility/text/encoding.h"
#include "code/utility/text/limits.h"
#include "code/utility/text/queryparameters.h"

namespace {

const char kUsage[] =
    "Usage:\n"
    "  qvlink make [--scheme NAME] [NAME=VALUE ...]\n"
    "  qvlink make [--scheme NAME] --query QUERY\n"
    "  qvlink read LINK\n"
    "  qvlink --help\n"
    "\n"
    "make  prints the protected launch link for the given launch parameters:\n"
    "        Quorumvessel:sp=...&chk=...\n"
    "      The parameters are the plain name=value pairs the service's web page\n"
    "      sends (for example meeting_id=42 role=host account_server_ip=127.0.0.2\n"
    "      port=8889 version=5.1.0). Values are plain text; qvlink URL-encodes\n"
    "      names and values. With no NAME=VALUE arguments the pairs are read from\n"
    "      standard input, one NAME=VALUE per line (UTF-8; empty lines and lines\n"
    "      starting with # are skipped; use this for values with non-ASCII text on\n"
    "      Windows). --query takes an already URL-encoded query string as it is.\n"
    "      sp and chk are URL-encoded as a browser carries them.\n"
    "      --scheme NAME  the link's scheme, the client name (default Quorumvessel)\n"
    "\n"
    "read  checks the link as the starter does and prints its launch parameters,\n"
    "      one NAME=VALUE line each, decoded, ordered by name. LINK \"-\" reads the\n"
    "      link from standard input. A link the starter would refuse is reported\n"
    "      with the reason.\n"
    "\n"
    "Exit status: 0 success, 1 link refused, 2 bad usage or input.\n";

// Names the starter turns into settings; others travel but are ignored.
const std::set<std::string> kKnownNames = {
    "account_server_ip", "port", "meeting_password", "meeting_id", "meeting_type", "role", "version",
    "publisher_name", "publisher_url", "name", "email", "user_password", "pass_through", "client_name",
    "oem_id", "oem_company_name", "oem_company_url", "powered_by_field_name", "main_icon", "minor_icon",
    "login_title", "plst", "client_hide_server_address", "recognize_manufacturer", "my_product_type",
    "my_product_sub_type"};

std::vector<std::string> g_logged;

void CollectLog(const char*, int, const char*, int, const char* sMessage) { g_logged.push_back(sMessage); }

int UsageError(const std::string& sMessage) {
  std::cerr << "qvlink: " << sMessage << "\n(run qvlink --help for usage)\n";
  return 2;
}

bool ReadLine(std::istream& in, std::string& sLine) {
  if (!std::getline(in, sLine)) return false;
  if (!sLine.empty() && sLine.back() == '\r') sLine.pop_back();
  return true;
}

// Splits "NAME=VALUE"; false for text without "=" or with an empty name.
bool SplitPair(const std::string& sText, std::pair<std::string, std::string>& pair) {
  const std::size_t iEquals = sText.find('=');
  if (iEquals == std::string::npos || iEquals == 0) return false;
  pair = {sText.substr(0, iEquals), sText.substr(iEquals + 1)};
  return true;
}

int Make(const std::vector<std::string>& args) {
  std::string sScheme = "Quorumvessel";
  std::string sQuery;
  bool bHaveQuery = false;
  std::vector<std::pair<std::string, std::string>> pairs;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--scheme" || a == "--query") {
      if (i + 1 >= args.size()) return UsageError(a + " needs a value");
      (a == "--scheme" ? sScheme : sQuery) = args[++i];
      if (a == "--query") bHaveQuery = true;
    } else if (a.rfind("--", 0) == 0) {
      return UsageError("unknown option " + a);
    } else {
      std::pair<std::string, std::string> pair;
      if (!SplitPair(a, pair)) return UsageError("expected NAME=VALUE, got \"" + a + "\"");
      pairs.push_back(pair);
    }
  }
  if (sScheme.empty() || sScheme.find_first_of(":?&= \t\r\n") != std::string::npos)
    return UsageError("the scheme must be a plain name without \":\", \"?\", \"&\", \"=\" or blanks");
  if (bHaveQuery && !pairs.empty()) return UsageError("give either --query or NAME=VALUE pairs, not both");

  if (!bHaveQuery && pairs.empty()) {
    std::string sLine;
    int iLine = 0;
    while (ReadLine(std::cin, sLine)) {
      ++iLine;
      if (sLine.empty() || sLine[0] == '#') continue;
      std::pair<std::string, std::string> pair;
      if (!SplitPair(sLine, pair))
        return UsageError("line " + std::to_string(iLine) + " of the input: expected NAME=VALUE, got \"" +
                          sLine + "\"");
      pairs.push_back(pair);
    }
    if (pairs.empty()) return UsageError("no launch parameters given (arguments or standard input)");
  }
  if (!bHaveQuery) {
    for (const auto& pair : pairs) {
      if (kKnownNames.count(pair.first) == 0)
        std::cerr << "qvlink: note: the starter does not use the parameter \"" << pair.first << "\"\n";
      if (!sQuery.empty()) sQuery += '&';
      sQuery += Utility::URLEncode(pair.first) + "=" + Utility::URLEncode(pair.second);
    }
  }
  if (sQuery.find('\0') != std::string::npos) return UsageError("the query holds a NUL byte");

  std::string sParameter, sCheckSum;
  Utility::ProtectQuery(sQuery, sParameter, sCheckSum);
  if (sParameter.size() > Utility::kMaxParameterLength) {
    std::cerr << "qvlink: the parameters are too long: sp would be " << sParameter.size()
              << " characters, the starter accepts at most " << Utility::kMaxParameterLength << "\n";
    return 2;
  }
  const std::string sLink =
      sScheme + ":sp=" + Utility::URLEncode(sParameter) + "&chk=" + Utility::URLEncode(sCheckSum);
  if (sLink.size() >= Limits::kCommandLine) {
    std::cerr << "qvlink: the link would be " << sLink.size()
              << " characters, the starter takes a command line of at most " << Limits::kCommandLine - 1
              << "\n";
    return 2;
  }
  std::cout << sLink << "\n";
  return 0;
}

// One check as the starter makes it; fills parameters on success.
bool TryLink(const std::string& sQuery, bool bURLDecode, QueryParameters& parameters, std::string& sWhy) {
  QueryParameters outer;
  outer.Parse(sQuery, '&', bURLDecode);
  const std::string sParameter = outer.GetValue("sp");
  const std::string sCheckSum = outer.GetValue("chk");
  if (!outer.Contains("sp") || !outer.Contains("chk")) {
    sWhy = !outer.Contains("sp") ? "the link has no sp parameter" : "the link has no chk parameter";
    return false;
  }
  g_logged.clear();
  if (Utility::DecryptQuery(sParameter, sCheckSum, &parameters)) return true;
  sWhy = g_logged.empty() ? "the checksum does not match" : g_logged.back();
  if (sParameter.size() <= Utility::kMaxParameterLength) {
    // The run log shows the checksums only by their length; the operator
    // checking a link of their own sees them whole.
    std::vector<char> aPlain(sParameter.begin(), sParameter.end());
    aPlain.push_back('\0');
    Utility::UnmaskText(aPlain.data(), "M");
    sWhy = "Checksum mismatch: sCheckSum = " + sCheckSum + ", computed = " + Utility::SHA1Base64(std::string(aPlain.data()));
  }
  return false;
}

int Read(const std::vector<std::string>& args) {
  if (args.size() != 1) return UsageError("read takes exactly one LINK");
  std::string sLink = args[0];
  if (sLink == "-") {
    if (!ReadLine(std::cin, sLink)) return UsageError("no link on standard input");
  }
  if (sLink.size() >= Limits::kCommandLine) {
    std::cerr << "qvlink: refused: the link is " << sLink.size()
              << " characters, the starter takes a command line of at most " << Limits::kCommandLine - 1
              << "\n";
    return 1;
  }
  const std::size_t iColon = sLink.find(':');
  if (iColon == std::string::npos) {
    std::cerr << "qvlink: refused: the link has no \":\" after its scheme\n";
    return 1;
  }
  const std::string sQuery = sLink.substr(iColon + 1);
  QueryParameters parameters;
  std::string sFirstWhy, sSecondWhy;
  // Like the starter: URL-decoded first, then as the text stands.
  if (!TryLink(sQuery, true, parameters, sFirstWhy) && !TryLink(sQuery, false, parameters, sSecondWhy)) {
    std::cerr << "qvlink: refused: " << sFirstWhy << "\n";
    if (sSecondWhy != sFirstWhy) std::cerr << "qvlink: without URL decoding: " << sSecondWhy << "\n";
    return 1;
  }
  for (const auto& item : parameters) std::cout << item.first << "=" << item.second << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  LogSink::SetWriter(&CollectLog);
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return UsageError("missing command (make or read)");
  const std::string sCommand = args[0];
  args.erase(args.begin());
  if (sCommand == "--help" || sCommand == "-h" || sCommand == "help") {
    std::cout << kUsage;
    return 0;
  }
  if (sCommand == "make") return Make(args);
  if (sCommand == "read") return Read(args);
  return UsageError("unknown command \"" + sCommand + "\"");
}

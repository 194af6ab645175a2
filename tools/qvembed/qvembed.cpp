// qvembed: makes a copy of the starter that carries its settings inside.
//
//   qvembed STARTER OUTPUT --settings FILE     a ready settings text
//   qvembed STARTER OUTPUT [NAME=VALUE ...]    launch parameters, as for qvlink make
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "code/setuphandler/embeddedsettings.h"
#include "code/setuphandler/setupstate.h"
#include "code/utility/text/queryparameters.h"

namespace {
const char kUsage[] =
    "Usage:\n"
    "  qvembed STARTER OUTPUT --settings FILE\n"
    "  qvembed STARTER OUTPUT [NAME=VALUE ...]\n"
    "  qvembed --help\n"
    "\n"
    "Writes OUTPUT, a copy of the starter executable STARTER followed by the\n"
    "settings block it reads when started without a command line: the marker,\n"
    "the settings text in base64 with a line break every 76 characters, and a\n"
    "zero byte.\n"
    "  --settings FILE  the tagged settings text, used as it stands\n"
    "  NAME=VALUE       launch parameters as qvlink make takes them (for example\n"
    "                   role=host account_server_ip=127.0.0.2 port=8889\n"
    "                   version=5.1.0); without --settings and without pairs they\n"
    "                   are read from standard input, one NAME=VALUE per line.\n"
    "                   They become the settings text a launch link would give.\n"
    "The settings must hold the <__Role__> element and be at most 4095 bytes.\n"
    "\n"
    "Exit status: 0 written, 2 bad usage or input.\n";

int Fail(const std::string& sMessage) {
  std::cerr << "qvembed: " << sMessage << "\n";
  return 2;
}

bool ReadFile(const std::string& sPath, std::string& sContent) {
  std::ifstream in(sPath, std::ios::binary);
  if (!in) return false;
  sContent.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool AddPair(const std::string& sText, QueryParameters& oPairs) {
  const std::size_t iEquals = sText.find('=');
  if (iEquals == std::string::npos || iEquals == 0) return false;
  oPairs.Set(sText.substr(0, iEquals), sText.substr(iEquals + 1));
  return true;
}
}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    std::cout << kUsage;
    return 0;
  }
  if (args.size() < 2) return Fail("expected STARTER and OUTPUT (run qvembed --help for usage)");
  const std::string sStarter = args[0];
  const std::string sOutput = args[1];
  args.erase(args.begin(), args.begin() + 2);

  std::string sSetting;
  if (!args.empty() && args[0] == "--settings") {
    if (args.size() != 2) return Fail("--settings takes exactly one FILE and nothing else");
    if (!ReadFile(args[1], sSetting)) return Fail("cannot read the settings file " + args[1]);
  } else {
    QueryParameters oPairs;
    for (const std::string& a : args) {
      if (!AddPair(a, oPairs)) return Fail("expected NAME=VALUE, got \"" + a + "\"");
    }
    if (args.empty()) {
      std::string sLine;
      int iLine = 0;
      while (std::getline(std::cin, sLine)) {
        ++iLine;
        if (!sLine.empty() && sLine.back() == '\r') sLine.pop_back();
        if (sLine.empty() || sLine[0] == '#') continue;
        if (!AddPair(sLine, oPairs))
          return Fail("line " + std::to_string(iLine) + " of the input: expected NAME=VALUE, got \"" + sLine + "\"");
      }
      if (oPairs.Empty()) return Fail("no settings given (--settings FILE, NAME=VALUE pairs or standard input)");
    }
    sSetting = SetupState::BuildSetting(oPairs);
  }

  if (sSetting.find('\0') != std::string::npos) return Fail("the settings hold a zero byte");
  if (sSetting.size() > EmbeddedSettings::kMaxSettingLength)
    return Fail("the settings are " + std::to_string(sSetting.size()) + " bytes; the starter takes at most " +
                std::to_string(EmbeddedSettings::kMaxSettingLength));
  if (!SetupState::HasRole(sSetting.c_str()))
    return Fail("the settings lack the <__Role__> element; the starter would refuse them");

  std::string sImage;
  if (!ReadFile(sStarter, sImage)) return Fail("cannot read the starter " + sStarter);
  std::ofstream out(sOutput, std::ios::binary | std::ios::trunc);
  if (!out) return Fail("cannot write " + sOutput);
  out << sImage << EmbeddedSettings::MakeBlock(sSetting);
  out.close();
  if (!out) return Fail("writing " + sOutput + " failed");
  return 0;
}

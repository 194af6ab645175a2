// qvcfg: masks a settings text into the starter.cfg that a starter reads from
// its folder, and unmasks one back.
//
//   qvcfg mask SETTINGS.txt starter.cfg
//   qvcfg unmask starter.cfg SETTINGS.txt
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "code/utility/protect/queryprotection.h"
#include "code/utility/text/limits.h"

namespace {
const char kUsage[] =
    "Usage:\n"
    "  qvcfg mask INPUT OUTPUT     settings text INPUT -> masked configuration OUTPUT\n"
    "  qvcfg unmask INPUT OUTPUT   masked configuration INPUT -> settings text OUTPUT\n"
    "  qvcfg --help\n"
    "\n"
    "The masked form is what a starter reads from a file named starter.cfg in\n"
    "its folder; the settings text is the tagged text (<__Role__>host</__Role__>...).\n"
    "\"-\" as INPUT reads standard input, as OUTPUT writes standard output.\n"
    "\n"
    "Exit status: 0 written, 2 bad usage or input.\n";

// The starter puts the configuration into a settings buffer of 4096 bytes.
const std::size_t kMaxSettingLength = Limits::kSetting - 1;

int Fail(const std::string& sMessage) {
  std::cerr << "qvcfg: " << sMessage << "\n";
  return 2;
}

bool ReadInput(const std::string& sPath, std::string& sContent) {
  if (sPath == "-") {
    sContent.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    return true;
  }
  std::ifstream in(sPath, std::ios::binary);
  if (!in) return false;
  sContent.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool WriteOutput(const std::string& sPath, const std::string& sContent) {
  if (sPath == "-") {
    std::cout << sContent;
    return static_cast<bool>(std::cout);
  }
  std::ofstream out(sPath, std::ios::binary | std::ios::trunc);
  out << sContent;
  out.close();
  return static_cast<bool>(out);
}
}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    std::cout << kUsage;
    return 0;
  }
  if (args.size() != 3 || (args[0] != "mask" && args[0] != "unmask"))
    return Fail("expected mask|unmask INPUT OUTPUT (run qvcfg --help for usage)");
  std::string sInput;
  if (!ReadInput(args[1], sInput)) return Fail("cannot read " + args[1]);
  std::string sOutput;
  if (args[0] == "mask") {
    if (sInput.find('\0') != std::string::npos) return Fail("the settings text holds a zero byte");
    if (sInput.size() > kMaxSettingLength)
      return Fail("the settings text is " + std::to_string(sInput.size()) + " bytes; the starter takes at most " +
                  std::to_string(kMaxSettingLength));
    if (sInput.find("<__Role__>") == std::string::npos)
      std::cerr << "qvcfg: note: the settings text has no <__Role__> element\n";
    sOutput = Utility::MaskText(sInput, "M");
  } else {
    std::vector<char> aBuffer(sInput.begin(), sInput.end());
    aBuffer.push_back('\0');
    Utility::UnmaskText(aBuffer.data(), "M");
    sOutput = aBuffer.data();
  }
  if (!WriteOutput(args[2], sOutput)) return Fail("cannot write " + args[2]);
  return 0;
}

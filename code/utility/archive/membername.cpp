#include "code/utility/archive/membername.h"

#include <cstring>

#include "code/utility/text/asciitext.h"
#include "code/utility/text/textconv.h"

namespace PackageArchive {
namespace {
bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsDeviceName(const std::string& sSegment) {
  // Windows maps these names to devices in any folder and with any extension.
  std::string sBase = sSegment.substr(0, sSegment.find('.'));
  while (!sBase.empty() && sBase.back() == ' ') sBase.pop_back();
  for (char& c : sBase) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  static const char* const kNames[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* sName : kNames) {
    if (sBase == sName) return true;
  }
  if (sBase.compare(0, 3, "COM") != 0 && sBase.compare(0, 3, "LPT") != 0) return false;
  if (sBase.size() == 4) return sBase[3] >= '0' && sBase[3] <= '9';
  // Windows also takes the superscript digits one to three (UTF-8 C2 B9, C2 B2, C2 B3).
  return sBase.size() == 5 && sBase[3] == '\xC2' && (sBase[4] == '\xB9' || sBase[4] == '\xB2' || sBase[4] == '\xB3');
}

bool EndsWithTempSuffix(const std::string& sSegment) {
  const std::size_t n = sizeof(kTempSuffix) - 1;
  if (sSegment.size() < n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    if (Utility::ToLowerASCII(sSegment[sSegment.size() - n + i]) != kTempSuffix[i]) return false;
  }
  return true;
}
}  // namespace

NameVerdict CheckMemberName(const std::string& sName) {
  if (sName.empty()) return NameVerdict::kEmpty;
  if (IsSeparator(sName[0])) return NameVerdict::kAbsolute;
  if (TextConv::WideToUtf8(TextConv::Utf8ToWide(sName)) != sName) return NameVerdict::kNotUtf8;
  std::size_t iStart = 0;
  for (;;) {
    std::size_t iEnd = iStart;
    while (iEnd < sName.size() && !IsSeparator(sName[iEnd])) ++iEnd;
    const std::string sSegment = sName.substr(iStart, iEnd - iStart);
    if (sSegment.empty()) return NameVerdict::kEmpty;
    for (char c : sSegment) {
      const auto u = static_cast<unsigned char>(c);
      if (c == ':') return NameVerdict::kColon;
      if (u < 0x20 || std::strchr("<>\"|?*", c) != nullptr) return NameVerdict::kBadCharacter;
    }
    // Windows drops trailing dots and blanks, so "..." or ". ." walk up too.
    if (sSegment.find_first_not_of(". ") == std::string::npos) return NameVerdict::kTraversal;
    if (IsDeviceName(sSegment)) return NameVerdict::kDeviceName;
    if (EndsWithTempSuffix(sSegment)) return NameVerdict::kReserved;
    if (iEnd == sName.size()) break;
    iStart = iEnd + 1;
  }
  return NameVerdict::kOk;
}

const char* DescribeVerdict(NameVerdict v) {
  switch (v) {
    case NameVerdict::kOk: return "ok";
    case NameVerdict::kEmpty: return "empty name or segment";
    case NameVerdict::kTraversal: return "leaves the destination";
    case NameVerdict::kAbsolute: return "absolute path";
    case NameVerdict::kColon: return "drive or stream name";
    case NameVerdict::kBadCharacter: return "invalid character";
    case NameVerdict::kDeviceName: return "device name";
    case NameVerdict::kReserved: return "reserved name";
    case NameVerdict::kNotUtf8: return "not UTF-8";
    case NameVerdict::kTooLong: return "path too long";
  }
  return "invalid";
}

std::string TargetPath(const std::string& sDestination, const std::string& sName) {
  std::string sTarget = sDestination;
  if (sTarget.empty() || sTarget.back() != '\\') sTarget += '\\';
  for (char c : sName) sTarget += (c == '/') ? '\\' : c;
  return sTarget;
}

}  // namespace PackageArchive

#include "code/crashreport/systeminfo.h"

#include <cstdio>

namespace {

constexpr unsigned kPlatformWin32s = 0;
constexpr unsigned kPlatformWindows = 1;
constexpr unsigned kPlatformNT = 2;
constexpr unsigned kWorkstation = 1;
constexpr unsigned kServer = 3;
constexpr unsigned kSuiteEnterprise = 0x0002;
constexpr unsigned kSuiteDataCenter = 0x0080;
constexpr unsigned kSuitePersonal = 0x0200;

bool EqualsIgnoringCase(const std::string& a, const char* b) {
  std::size_t i = 0;
  for (; i < a.size() && b[i]; ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = char(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = char(y - 'a' + 'A');
    if (x != y) return false;
  }
  return i == a.size() && !b[i];
}

}  // namespace

std::string SystemInfo::FormatOSName(const OSVersion& o) {
  std::string sName;
  if (o.iPlatformId == kPlatformWin32s) return "Microsoft Win32s ";
  if (o.iPlatformId == kPlatformWindows) {
    const char cLetter = o.sServicePack.size() > 1 ? o.sServicePack[1] : '\0';
    if (o.iMajor == 4 && o.iMinor == 0) {
      sName = "Microsoft Windows 95 ";
      if (cLetter == 'C' || cLetter == 'B') sName += "OSR2 ";
    } else if (o.iMajor == 4 && o.iMinor == 10) {
      sName = "Microsoft Windows 98 ";
      if (cLetter == 'A') sName += "SE ";
    } else if (o.iMajor == 4 && o.iMinor == 90) {
      sName = "Microsoft Windows Me ";
    }
    return sName;
  }
  if (o.iPlatformId != kPlatformNT) return sName;

  if (o.iMajor <= 4)
    sName = "Microsoft Windows NT ";
  else if (o.iMajor == 5 && o.iMinor == 0)
    sName = "Microsoft Windows 2000 ";
  else if (o.iMajor == 5 && o.iMinor == 1)
    sName = "Microsoft Windows XP ";
  else if (o.iMajor == 5 && o.iMinor == 2)
    sName = "Windows Server 2003 family ";
  else if (o.iMajor >= 6)
    sName = "Microsoft Windows Vista ";

  if (o.bExtended) {
    if (o.iProductType == kWorkstation) {
      sName += (o.iSuiteMask & kSuitePersonal) ? "Personal " : "Professional ";
    } else if (o.iProductType == kServer) {
      if (o.iSuiteMask & kSuiteDataCenter)
        sName += "DataCenter Server ";
      else if (o.iSuiteMask & kSuiteEnterprise)
        sName += "Advanced Server ";
      else
        sName += "Server ";
    }
  } else if (EqualsIgnoringCase(o.sRegistryProductType, "WINNT")) {
    sName += "Professional ";
  } else if (EqualsIgnoringCase(o.sRegistryProductType, "LANMANNT")) {
    sName += "Server ";
  } else if (EqualsIgnoringCase(o.sRegistryProductType, "SERVERNT")) {
    sName += "Advanced Server ";
  }

  char sVersion[64];
  if (o.iMajor > 4)
    std::snprintf(sVersion, sizeof sVersion, " (Build %u)", o.iBuild & 0xffff);
  else
    std::snprintf(sVersion, sizeof sVersion, "version %u.%u ", o.iMajor, o.iMinor);
  if (o.iMajor > 4) {
    sName += o.sServicePack + sVersion;
  } else {
    sName += sVersion + o.sServicePack;
    std::snprintf(sVersion, sizeof sVersion, " (Build %u)", o.iBuild & 0xffff);
    sName += sVersion;
  }
  return sName;
}

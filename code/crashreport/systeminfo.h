#pragma once
#include <string>

// What the error report tells about the machine: operating system, browser
// version, computer name and address. The Windows calls fill process-wide
// texts (empty until filled) that only the report reads.
namespace SystemInfo {

// The parts of the system's version record the OS text is made from.
struct OSVersion {
  unsigned iPlatformId = 0;  // 0 Win32s, 1 Windows 9x, 2 Windows NT
  unsigned iMajor = 0;
  unsigned iMinor = 0;
  unsigned iBuild = 0;
  std::string sServicePack;   // the whole service-pack text, UTF-8
  bool bExtended = false;     // product type and suite mask are known
  unsigned iProductType = 0;  // 1 workstation, 2 domain controller, 3 server
  unsigned iSuiteMask = 0;
  // Without the extended record: "ProductType" of the product options key.
  std::string sRegistryProductType;
};

// "Microsoft Windows XP Professional Service Pack 3 (Build 2600)" and so on.
std::string FormatOSName(const OSVersion& oVersion);

// Windows only ---------------------------------------------------------------

// Host name and first IPv4 address of the local computer; false when the
// local name or its lookup fails.
bool GetComputerInfo();
// Browser version, build and minor version from the registry; always true.
bool GetIEVersion();
// The OS text; false when the version query fails.
bool GetOSName();

struct Texts {
  std::string sComputerName;
  std::string sComputerIP;
  std::string sOSName;
  std::string sIEVersion;
  std::string sIEBuild;
  std::string sIEMinorVersion;
};
const Texts& GetTexts();

}  // namespace SystemInfo

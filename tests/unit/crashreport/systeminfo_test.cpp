#include "code/crashreport/systeminfo.h"

#include <gtest/gtest.h>

TEST(SystemInfoFormatOSName, EveryNamedVersion) {
  struct Case {
    unsigned iPlatform, iMajor, iMinor, iBuild;
    const char* sServicePack;
    bool bExtended;
    unsigned iProductType, iSuiteMask;
    const char* sRegistry;
    const char* sExpected;
  };
  const Case aCases[] = {
      {0, 3, 11, 0, "", false, 0, 0, "", "Microsoft Win32s "},
      {1, 4, 0, 950, " C", false, 0, 0, "", "Microsoft Windows 95 OSR2 "},
      {1, 4, 0, 950, " B", false, 0, 0, "", "Microsoft Windows 95 OSR2 "},
      {1, 4, 0, 950, "", false, 0, 0, "", "Microsoft Windows 95 "},
      {1, 4, 10, 2222, " A", false, 0, 0, "", "Microsoft Windows 98 SE "},
      {1, 4, 10, 1998, " ", false, 0, 0, "", "Microsoft Windows 98 "},
      {1, 4, 90, 3000, "", false, 0, 0, "", "Microsoft Windows Me "},
      {1, 5, 0, 1, "", false, 0, 0, "", ""},
      {2, 4, 0, 1381, "Service Pack 6", false, 0, 0, "WinNT",
       "Microsoft Windows NT Professional version 4.0 Service Pack 6 (Build 1381)"},
      {2, 4, 0, 1381, "Service Pack 6", false, 0, 0, "lanmannt",
       "Microsoft Windows NT Server version 4.0 Service Pack 6 (Build 1381)"},
      {2, 5, 0, 2195, "Service Pack 4", false, 0, 0, "ServerNT",
       "Microsoft Windows 2000 Advanced Server Service Pack 4 (Build 2195)"},
      {2, 5, 0, 2195, "", false, 0, 0, "Other", "Microsoft Windows 2000  (Build 2195)"},
      {2, 5, 1, 2600, "Service Pack 3", true, 1, 0x100, "", "Microsoft Windows XP Professional Service Pack 3 (Build 2600)"},
      {2, 5, 1, 2600, "Service Pack 2", true, 1, 0x300, "", "Microsoft Windows XP Personal Service Pack 2 (Build 2600)"},
      {2, 5, 2, 3790, "Service Pack 2", true, 3, 0x80, "", "Windows Server 2003 family DataCenter Server Service Pack 2 (Build 3790)"},
      {2, 5, 2, 3790, "", true, 3, 0x2, "", "Windows Server 2003 family Advanced Server  (Build 3790)"},
      {2, 5, 2, 3790, "", true, 3, 0, "", "Windows Server 2003 family Server  (Build 3790)"},
      {2, 5, 2, 3790, "", true, 2, 0x2, "", "Windows Server 2003 family  (Build 3790)"},
      {2, 6, 0, 6002, "Service Pack 2", true, 1, 0, "", "Microsoft Windows Vista Professional Service Pack 2 (Build 6002)"},
      // Later versions are all named Vista; the build keeps its low 16 bits.
      {2, 10, 0, 0x10000 + 19045, "", true, 1, 0x100, "", "Microsoft Windows Vista Professional  (Build 19045)"},
  };
  for (const Case& c : aCases) {
    SystemInfo::OSVersion o;
    o.iPlatformId = c.iPlatform;
    o.iMajor = c.iMajor;
    o.iMinor = c.iMinor;
    o.iBuild = c.iBuild;
    o.sServicePack = c.sServicePack;
    o.bExtended = c.bExtended;
    o.iProductType = c.iProductType;
    o.iSuiteMask = c.iSuiteMask;
    o.sRegistryProductType = c.sRegistry;
    EXPECT_EQ(SystemInfo::FormatOSName(o), c.sExpected) << c.iMajor << "." << c.iMinor;
  }
}

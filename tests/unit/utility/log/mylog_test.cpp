#include <gtest/gtest.h>

#include <string>

#include "code/utility/log/mylog.h"
#include "code/utility/log/sockerror.h"

TEST(MyLogEntryHeader, LayoutOfOneEntry) {
  const MyLogFormat::LocalTime t = {2026, 3, 7, 4, 5, 9};
  EXPECT_EQ(MyLogFormat::EntryHeader(t, "BootkinApp::InitInstance()", 217),
            "2026-03-07 04:05:09\nFunction: BootkinApp::InitInstance()\nLine: 217\nMessage: ");
  const MyLogFormat::LocalTime late = {2026, 12, 31, 23, 59, 58};
  EXPECT_EQ(MyLogFormat::EntryHeader(late, "", 0), "2026-12-31 23:59:58\nFunction: \nLine: 0\nMessage: ");
}

TEST(MyLogShouldRotate, StrictlyAboveTheMaximum) {
  struct Case {
    long long iOnDisk;
    std::size_t iHeader;
    bool bRotate;
  } const kCases[] = {
      {1024000 - 60, 60, false},  // exactly the maximum stays
      {1024000 - 60, 61, true},   // one byte more rotates
      {1024000, 0, false},
      {1024001, 0, true},
      {0, 60, false},
      {3000000000LL, 60, true},  // a file beyond 2 GiB still rotates
  };
  for (const Case& c : kCases)
    EXPECT_EQ(MyLogFormat::ShouldRotate(c.iOnDisk, c.iHeader, MyLogFormat::kMaxSize), c.bRotate)
        << c.iOnDisk << " + " << c.iHeader;
  EXPECT_EQ(MyLogFormat::kMaxSize, 1024000);
  EXPECT_EQ(MyLogFormat::kInitialMaxSize, 102400);
}

TEST(MyLogBuildPaths, BackupsFollowTheLogName) {
  std::string sLog, sBak, sBak2;
  ASSERT_TRUE(MyLogFormat::BuildPaths("C:\\users\\me\\Temp\\", "QVSetup.txt", &sLog, &sBak, &sBak2));
  EXPECT_EQ(sLog, "C:\\users\\me\\Temp\\QVSetup.txt");
  EXPECT_EQ(sBak, "C:\\users\\me\\Temp\\QVSetup.txt.bak");
  EXPECT_EQ(sBak2, "C:\\users\\me\\Temp\\QVSetup.txt.bak.bak");

  // The longest backup path with its terminator must fit 512 bytes.
  const std::string sName = "QVSetup.txt";
  const std::string sFits(511 - 8 - sName.size(), 'd');
  EXPECT_TRUE(MyLogFormat::BuildPaths(sFits, sName, &sLog, &sBak, &sBak2));
  EXPECT_EQ(sBak2.size(), 511u);
  EXPECT_FALSE(MyLogFormat::BuildPaths(sFits + "d", sName, &sLog, &sBak, &sBak2));
  EXPECT_FALSE(MyLogFormat::BuildPaths("C:\\", "", &sLog, &sBak, &sBak2));
}

TEST(GetSocketErrorTableText, FixedTexts) {
  struct Case {
    int iCode;
    const char* sText;
  } const kCases[] = {
      {10060, "Connection timed out."},
      {10038, "MySocket operation on nonsocket."},
      {10044, "MySocket type not supported."},
      {10056, "MySocket is already connected."},
      {10057, "MySocket is not connected."},
      {10004, "Interrupted function call."},
      {10047, "Address family not supported by protocol family."},
      {10093, "Successful WSAStartup not yet performed."},
      {11004, "Valid name, no data record of requested type."},
  };
  for (const Case& c : kCases) {
    ASSERT_NE(GetSocketErrorTableText(c.iCode), nullptr) << c.iCode;
    EXPECT_STREQ(GetSocketErrorTableText(c.iCode), c.sText);
  }
  // Numbers between the table's entries belong to the system's messages.
  for (int iCode : {0, 2, 10059, 10062, 10100, 11000, 11005, -1})
    EXPECT_EQ(GetSocketErrorTableText(iCode), nullptr) << iCode;
}

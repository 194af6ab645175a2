#include <gtest/gtest.h>

#include <string>

#include "code/setuphandler/packagefile.h"
#include "tests/win/testdir_win.h"

TEST(PackageOutput, WritesInOrderRestartsFromZeroAndReplacesAnOldFile) {
  TestDir dir("packageoutput");
  dir.Write("PCClient.zip.part", std::string(100000, 'o'));  // left by an earlier run
  {
    auto pOut = CreatePackageOutput(dir.Utf8("PCClient.zip.part"));
    ASSERT_TRUE(pOut);
    const std::string sBig(200000, 'b');  // larger than the buffer: straight to the file
    ASSERT_TRUE(pOut->Append("first", 5));
    ASSERT_TRUE(pOut->Append(sBig.data(), sBig.size()));
    ASSERT_TRUE(pOut->Append("tail", 4));
    ASSERT_TRUE(pOut->Flush());
    EXPECT_EQ(dir.Read("PCClient.zip.part"), "first" + sBig + "tail");
    ASSERT_TRUE(pOut->Append("lost", 4));  // buffered, then dropped by the restart
    ASSERT_TRUE(pOut->Restart());
    ASSERT_TRUE(pOut->Append("new", 3));
  }  // closing flushes
  EXPECT_EQ(dir.Read("PCClient.zip.part"), "new");
}

TEST(PackageOutput, NoFileWhereNoneCanBeCreated) {
  TestDir dir("packageoutput_missing");
  EXPECT_FALSE(CreatePackageOutput(dir.Utf8("no such folder\\PCClient.zip.part")));
  EXPECT_FALSE(CreatePackageOutput(""));
}

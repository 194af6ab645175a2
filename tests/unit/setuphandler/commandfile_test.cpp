#include "code/setuphandler/commandfile.h"

#include <gtest/gtest.h>

namespace {

TEST(CommandFile, SetupPrefixExactBytes) {
  EXPECT_EQ(CommandFile::SetupPrefix("C:\\Users\\u\\AppData\\Local\\Temp\\QVSetup", "C:\\Users\\u\\Downloads",
                                     "QuorumvesselStarter.exe", false),
            "<__SetupDirectory__>C:\\Users\\u\\AppData\\Local\\Temp\\QVSetup</__SetupDirectory__>\n"
            "<__SetupFile__>C:\\Users\\u\\Downloads\\QuorumvesselStarter.exe</__SetupFile__>\n"
            "<__SetupFileName__>QuorumvesselStarter.exe</__SetupFileName__>\n"
            "<__SetupConfigureFile__>C:\\Users\\u\\Downloads\\starter.cfg</__SetupConfigureFile__>\n");
  EXPECT_EQ(CommandFile::SetupPrefix("S", "D", "f.exe", true),
            "<__SetupDirectory__>S</__SetupDirectory__>\n"
            "<__SetupFile__>D\\f.exe</__SetupFile__>\n"
            "<__SetupFileName__>f.exe</__SetupFileName__>\n"
            "<__SetupConfigureFile__>D\\starter.cfg</__SetupConfigureFile__>\n"
            "<__NeedToRemoveSetup__>Y</__NeedToRemoveSetup__>\n");
}

}  // namespace

#include <gtest/gtest.h>

#include <string>

#include "bootkin/bootkin.h"
#include "bootkin/resource.h"

TEST(BootkinAppClientName, CutAtStarter) {
  struct Case {
    const char* sFileName;
    bool bValid;
    const char* sClientName;
  } const kCases[] = {
      {"QuorumvesselStarter.exe", true, "Quorumvessel"},
      {"acme-starter (2).exe", true, "acme-"},
      {"MyStarterstarter.exe", true, "My"},  // "Starter" is looked for first
      {"starterStarter.exe", true, "starter"},
      {"Starter.exe", true, ""},
      {"setup.exe", false, ""},
      {"STARTER.exe", false, ""},
      {"", false, ""},
  };
  for (const Case& c : kCases) {
    std::string sClient = "unchanged";
    EXPECT_EQ(BootkinApp::ClientNameFromFileName(c.sFileName, &sClient), c.bValid) << c.sFileName;
    if (c.bValid) EXPECT_EQ(sClient, c.sClientName) << c.sFileName;
  }
}

TEST(BootkinAppSmallIcon, ExactEditionNames) {
  EXPECT_EQ(BootkinApp::SmallIconForOem("Fernbrook"), IDI_SMALL_FERNBROOK);
  EXPECT_EQ(BootkinApp::SmallIconForOem("Pallida"), IDI_SMALL_PALLIDA);
  EXPECT_EQ(BootkinApp::SmallIconForOem("pallida"), IDI_SMALL_DEFAULT);
  EXPECT_EQ(BootkinApp::SmallIconForOem("Pallida "), IDI_SMALL_DEFAULT);
  EXPECT_EQ(BootkinApp::SmallIconForOem(""), IDI_SMALL_DEFAULT);
}

TEST(BootkinAppCommandLineCopy, WholeBufferOrNothing) {
  EXPECT_EQ(BootkinApp::CommandLineCopy(L"Quorumvessel:a=1"), "Quorumvessel:a=1");
  EXPECT_EQ(BootkinApp::CommandLineCopy(std::wstring(4095, L'x')), std::string(4095, 'x'));
  EXPECT_EQ(BootkinApp::CommandLineCopy(std::wstring(4096, L'x')), "");
  // Measured in UTF-8 bytes, not in characters.
  EXPECT_EQ(BootkinApp::CommandLineCopy(std::wstring(2047, L'\u00e9') + L"x").size(), 4095u);
  EXPECT_EQ(BootkinApp::CommandLineCopy(std::wstring(2048, L'\u00e9')), "");
}

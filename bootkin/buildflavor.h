#pragma once

// What differs between the shipping starter and its test build. Only
// bootkin/flavor/buildflavor.cpp defines it; it is compiled into each starter
// executable with or without QV_TEST_BUILD.
struct BuildFlavor {
  bool bTestBuild;
};

const BuildFlavor& GetBuildFlavor();

#pragma once

// What differs between the shipping starter and its test build. Only
// bootkin/flavor/buildflavor.cpp defines it; it is compiled into each starter
// executable with or without QV_TEST_BUILD.
struct BuildFlavor {
  bool bTestBuild;
  // Error server for crash reports: host name, the address used when the
  // name does not resolve, and the port.
  const char* sErrorServerHost;
  const char* sErrorServerAddress;
  int iErrorServerPort;
  // Test build only: crashes on purpose when asked to at the named point.
  void (*pCrashPoint)(const char* sWhere);
  // Client download: wait before a new attempt after an incomplete one, and
  // the calendar seconds after which an attempt is given up.
  int iDownloadRetryWaitMs;
  int iDownloadTimeoutSeconds;
  // Test build only: notes every message posted to the progress window, with
  // its text (null for messages without one).
  void (*pTraceWindowMessage)(unsigned int uMessage, const char* sText);
  // Test build only (else null): library names, separated by commas, that
  // start-up loads by name once the settings are in hand, the way the
  // network layer loads its script engine, logging where each came from.
  const char* sTestLoadLibraries;
};

const BuildFlavor& GetBuildFlavor();

#include "code/buildflavor.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

// Error server of the shipping build, set by the build (-DQV_ERROR_SERVER_HOST=...).
// Without a host name the address alone is used; the default goes nowhere.
#ifndef QV_ERROR_SERVER_HOST
#define QV_ERROR_SERVER_HOST ""
#endif
#ifndef QV_ERROR_SERVER_ADDRESS
#define QV_ERROR_SERVER_ADDRESS "127.0.0.1"
#endif

namespace {

#ifdef QV_TEST_BUILD
// QV_TEST_CRASH lists the points to crash at, separated by commas.
void TestCrashPoint(const char* sWhere) {
  const char* sList = std::getenv("QV_TEST_CRASH");
  if (!sList || !sWhere || !*sWhere) return;
  const size_t iLength = std::strlen(sWhere);
  for (const char* p = sList; *p;) {
    const char* pEnd = std::strchr(p, ',');
    const size_t n = pEnd ? size_t(pEnd - p) : std::strlen(p);
    if (n == iLength && std::strncmp(p, sWhere, n) == 0) {
      *static_cast<volatile int*>(nullptr) = 0;  // access violation
    }
    if (!pEnd) break;
    p = pEnd + 1;
  }
}

// QV_TEST_WINDOW_TRACE names a file that receives one line per message posted
// to the progress window: the number, a blank and the text with line feeds
// written as "\\n".
void TestTraceWindowMessage(unsigned int uMessage, const char* sText) {
  static std::mutex oLock;
  const char* sPath = std::getenv("QV_TEST_WINDOW_TRACE");
  if (!sPath || !*sPath) return;
  std::string sLine = std::to_string(uMessage) + " ";
  for (const char* p = sText ? sText : ""; *p; ++p) {
    if (*p == '\n') {
      sLine += "\\n";
    } else {
      sLine += *p;
    }
  }
  sLine += "\n";
  std::lock_guard<std::mutex> oGuard(oLock);
  if (std::FILE* pFile = std::fopen(sPath, "ab")) {
    std::fwrite(sLine.data(), 1, sLine.size(), pFile);
    std::fclose(pFile);
  }
}

// QV_TEST_ERROR_SERVER is "<host> <address> <port>", pointing the test build
// at a local error server.
BuildFlavor MakeFlavor() {
  static char sHost[256] = "";
  static char sAddress[64] = "";
  BuildFlavor o{};
  o.bTestBuild = true;
  o.sErrorServerHost = QV_ERROR_SERVER_HOST;
  o.sErrorServerAddress = QV_ERROR_SERVER_ADDRESS;
  o.iErrorServerPort = 80;
  o.pCrashPoint = &TestCrashPoint;
  o.pTraceWindowMessage = &TestTraceWindowMessage;
  o.sTestLoadLibraries = std::getenv("QV_TEST_LOAD_LIBRARY");
  // Short waits so that retries and time-outs can be watched in a test run;
  // QV_TEST_DOWNLOAD_TIMEOUT (seconds) overrides the time-out.
  o.iDownloadRetryWaitMs = 1000;
  o.iDownloadTimeoutSeconds = 8;
  if (const char* sTimeout = std::getenv("QV_TEST_DOWNLOAD_TIMEOUT")) {
    const int iTimeout = std::atoi(sTimeout);
    if (iTimeout > 0 && iTimeout <= 600) o.iDownloadTimeoutSeconds = iTimeout;
  }
  const char* sServer = std::getenv("QV_TEST_ERROR_SERVER");
  int iPort = 0;
  if (sServer && std::sscanf(sServer, "%255s %63s %d", sHost, sAddress, &iPort) == 3 && iPort > 0 &&
      iPort < 65536) {
    o.sErrorServerHost = sHost;
    o.sErrorServerAddress = sAddress;
    o.iErrorServerPort = iPort;
  }
  return o;
}
#else
BuildFlavor MakeFlavor() {
  BuildFlavor o{};
  o.bTestBuild = false;
  o.sErrorServerHost = QV_ERROR_SERVER_HOST;
  o.sErrorServerAddress = QV_ERROR_SERVER_ADDRESS;
  o.iErrorServerPort = 80;
  o.pCrashPoint = nullptr;
  o.pTraceWindowMessage = nullptr;
  o.sTestLoadLibraries = nullptr;
  o.iDownloadRetryWaitMs = 60000;
  o.iDownloadTimeoutSeconds = 600;
  return o;
}
#endif

}  // namespace

const BuildFlavor& GetBuildFlavor() {
  static const BuildFlavor kFlavor = MakeFlavor();
  return kFlavor;
}

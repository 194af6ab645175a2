// Runs HTTP client calls for the end-to-end tests (tests/e2e/test_hlib.py),
// which start the account server and the proxy and then run this test with
// QV_HLIB_DRIVER naming a command file and QV_HLIB_DRIVER_OUT an output file.
// Without them the test is skipped.
//
// Commands, one per line, fields separated by tabs ("\t", "\n" and "\\"
// escaped in fields):
//   timeout MS                 request time-outs
//   cache [PATH]               configuration cache file (created when missing)
//   getpage HOST PORT URL MAXLEN KEY EXPECTED CHUNKED [digest]
//   download URL EXPECTED SMALLREADS
//   resolve HOST
//   detect URL HOST PORT LOCATION | setoptiona URL HOST PORT SECURE PROXYLIST
//   autoconfig URL             store an auto-config location as a settings dialog does
//   cread START END | cwrite START END VALUE | cwriteloop COUNT START END PREFIX
// Output lines: "log FUNCTION SEVERITY MESSAGE" for every log entry and
// "result ..." per command; getpage adds "samples V1 V2 ..." (the received
// count as another thread saw it while the call ran).
#include <winsock2.h>
#include <windows.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "code/hlib/hlib.h"
#include "code/utility/log/logsink.h"
#include "code/utility/net/socketdownload.h"
#include "code/utility/system/myconfigure.h"

namespace {
std::mutex g_outMutex;
std::ofstream* g_pOut = nullptr;

std::string Escape(const std::string& s) {
  std::string o;
  for (char c : s) {
    if (c == '\\') o += "\\\\";
    else if (c == '\t') o += "\\t";
    else if (c == '\n') o += "\\n";
    else if (c == '\r') o += "\\r";
    else o += c;
  }
  return o;
}

std::string Unescape(const std::string& s) {
  std::string o;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      const char c = s[++i];
      o += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    } else {
      o += s[i];
    }
  }
  return o;
}

std::string Hex(const char* p, std::size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  s.reserve(n * 2);
  for (std::size_t i = 0; i < n; ++i) {
    s += digits[(static_cast<unsigned char>(p[i]) >> 4) & 15];
    s += digits[static_cast<unsigned char>(p[i]) & 15];
  }
  return s;
}

void Emit(const std::vector<std::string>& fields) {
  std::lock_guard<std::mutex> lock(g_outMutex);
  for (std::size_t i = 0; i < fields.size(); ++i) *g_pOut << (i ? "\t" : "") << Escape(fields[i]);
  *g_pOut << "\n";
  g_pOut->flush();
}

void WriteLog(const char* sFunction, int iSeverity, const char* sSource, int, const char* sMessage) {
  Emit({"log", sFunction, std::to_string(iSeverity), sMessage, sSource});
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    out.push_back(Unescape(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start)));
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  return out;
}

void GetPage(const std::vector<std::string>& f) {
  HLib oHLib;
  const int iMaxLength = std::atoi(f[4].c_str());
  oHLib.m_iExpectedReceiveSize = std::atoi(f[6].c_str());
  oHLib.m_bUseMinReadBuffer = f[7] == "1";
  // An optional tenth field sets the largest single read (the benchmark).
  if (f.size() > 9 && std::atoi(f[9].c_str()) > 0) oHLib.m_iReadSize = std::atoi(f[9].c_str());
  std::vector<char> url(f[3].size() + 4096, 0);
  std::memcpy(url.data(), f[3].data(), f[3].size());
  // One spare byte past the buffer shows whether anything wrote beyond it.
  std::vector<char> buffer(static_cast<std::size_t>(iMaxLength) + 1, '\x5a');
  std::atomic<bool> bDone{false};
  std::vector<int> samples;
  std::thread watcher([&] {
    int iLast = -1;
    while (!bDone) {
      const int v = oHLib.m_iCurrentlyReceived;
      if (v != iLast) samples.push_back(iLast = v);
      Sleep(1);
    }
  });
  int iPort = -1;
  const bool bOk = oHLib.GetPage(f[1].c_str(), std::atoi(f[2].c_str()), url.data(), iMaxLength, f[5].c_str(),
                                 buffer.data(), &iPort, url.size());
  bDone = true;
  watcher.join();
  std::string sSamples;
  for (int v : samples) sSamples += (sSamples.empty() ? "" : " ") + std::to_string(v);
  Emit({"samples", sSamples});
  // With "digest" only an FNV-1a hash of the buffer is written (large files).
  std::string sBuffer;
  if (f.size() > 8 && f[8] == "digest") {
    unsigned long long h = 1469598103934665603ULL;
    for (int i = 0; i < iMaxLength; ++i) h = (h ^ static_cast<unsigned char>(buffer[i])) * 1099511628211ULL;
    char sDigest[32];
    std::snprintf(sDigest, sizeof(sDigest), "fnv:%016llx", h);
    sBuffer = sDigest;
  } else {
    sBuffer = Hex(buffer.data(), static_cast<std::size_t>(iMaxLength));
  }
  Emit({"result", "getpage", bOk ? "1" : "0", std::to_string(iPort), url.data(), sBuffer, buffer[iMaxLength] == '\x5a' ? "guard-ok" : "guard-hit",
        std::to_string(oHLib.m_iCurrentlyReceived)});
}

void Download(const std::vector<std::string>& f) {
  std::unique_ptr<char[]> oData;
  int iSize = -1;
  std::atomic<int> iReceived{0};
  // The caller's maximum is optional: a whole file's worth by default.
  const int iMax = f.size() > 4 && !f[4].empty() ? std::atoi(f[4].c_str()) : Utility::kMaxUnannouncedBody;
  const bool bOk = Utility::URLDownload(f[1].c_str(), std::atoi(f[2].c_str()), iMax, f[3] == "1", oData, &iSize,
                                        &iReceived);
  const char* pData = oData.get();
  Emit({"result", "download", bOk ? "1" : "0", std::to_string(iSize), pData ? "data" : "nodata",
        pData ? Hex(pData, static_cast<std::size_t>(iSize > 0 ? iSize : 0)) : "", std::to_string(iReceived)});
}

void RunCommands(std::ifstream& in) {
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    const std::vector<std::string> f = Fields(line);
    const std::string& c = f[0];
    if (c == "timeout") {
      Utility::SetSocketTimeoutMs(std::atoi(f[1].c_str()));
    } else if (c == "cache") {
      // Without a path: the per-user file that start-up uses.
      MyConfigure::Initialize(0);
      const bool bOk = f.size() < 2 || f[1].empty() || MyConfigure::GetInstance()->SetFilePath(f[1].c_str());
      Emit({"result", "cache", bOk ? "1" : "0", MyConfigure::GetInstance()->GetFilePath()});
    } else if (c == "getpage") {
      GetPage(f);
    } else if (c == "download") {
      Download(f);
    } else if (c == "autoconfig") {
      // The way a settings dialog stores an auto-config location.
      INTERNET_PER_CONN_OPTIONA option[2];
      option[0].dwOption = INTERNET_PER_CONN_FLAGS;
      option[0].Value.dwValue = PROXY_TYPE_DIRECT | PROXY_TYPE_AUTO_PROXY_URL;
      option[1].dwOption = INTERNET_PER_CONN_AUTOCONFIG_URL;
      option[1].Value.pszValue = const_cast<char*>(f[1].c_str());
      INTERNET_PER_CONN_OPTION_LISTA list;
      list.dwSize = sizeof(list);
      list.pszConnection = nullptr;
      list.dwOptionCount = 2;
      list.dwOptionError = 0;
      list.pOptions = option;
      const BOOL bOk = InternetSetOptionA(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, sizeof(list));
      Emit({"result", "autoconfig", bOk ? "1" : "0", std::to_string(GetLastError())});
    } else if (c == "detect") {
      HLib oHLib;
      char sLocation[HR::kWPADLocationSize] = {0};
      char sList[HR::kProxyListSize] = {0};
      std::strncpy(sLocation, f[4].c_str(), sizeof(sLocation) - 1);
      oHLib.Detect(f[1].c_str(), f[2].c_str(), std::atoi(f[3].c_str()), sLocation, sList);
      Emit({"result", "detect", sList, sLocation});
    } else if (c == "setoptiona") {
      HLib oHLib;
      const bool bOk = oHLib.SetOptionA(f[1].c_str(), f[2].c_str(), std::atoi(f[3].c_str()), f[4] == "1", "GET",
                                        f[5].c_str(), "");
      Emit({"result", "setoptiona", bOk ? "1" : "0"});
    } else if (c == "resolve") {
      std::string sIP;
      const bool bOk = Utility::ResolveHostName(f[1].c_str(), sIP);
      Emit({"result", "resolve", bOk ? "1" : "0", sIP});
    } else if (c == "cread") {
      char sValue[4096];
      const bool bOk = MyConfigure::GetInstance()->ReadConfigure(f[1].c_str(), f[2].c_str(), sValue);
      Emit({"result", "cread", bOk ? "1" : "0", sValue});
    } else if (c == "cwrite") {
      const bool bOk = MyConfigure::GetInstance()->WriteConfigure(f[1].c_str(), f[2].c_str(), f[3].c_str());
      Emit({"result", "cwrite", bOk ? "1" : "0"});
    } else if (c == "cwriteloop") {
      int iOk = 0;
      const int n = std::atoi(f[1].c_str());
      for (int i = 0; i < n; ++i) {
        const std::string sValue = f[4] + std::to_string(i);
        if (MyConfigure::GetInstance()->WriteConfigure(f[2].c_str(), f[3].c_str(), sValue.c_str())) ++iOk;
      }
      Emit({"result", "cwriteloop", std::to_string(iOk)});
    } else {
      Emit({"result", "unknown", c});
    }
  }
}
}  // namespace

TEST(HLibDriver, Run) {
  const char* sCommands = std::getenv("QV_HLIB_DRIVER");
  const char* sOut = std::getenv("QV_HLIB_DRIVER_OUT");
  if (sCommands == nullptr || sOut == nullptr) GTEST_SKIP() << "run by tests/e2e/test_hlib.py";
  std::ifstream in(sCommands);
  ASSERT_TRUE(in.good()) << sCommands;
  std::ofstream out(sOut, std::ios::binary);
  ASSERT_TRUE(out.good()) << sOut;
  g_pOut = &out;
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  LogSink::Writer pPrevious = LogSink::GetWriter();
  LogSink::SetWriter(&WriteLog);
  RunCommands(in);
  LogSink::SetWriter(pPrevious);
  Emit({"end"});
  g_pOut = nullptr;
}

#include "code/crashreport/errorreport.h"

#include <winsock2.h>
#include <windows.h>
#include <wininet.h>

#include <cstdio>

#include "code/buildflavor.h"
#include "code/crashreport/crashhandler.h"
#include "code/crashreport/systeminfo.h"
#include "code/crashreport/versiontext.h"
#include "code/utility/log/mylog.h"
#include "code/utility/net/socketdownload.h"
#include "code/utility/system/fileutil.h"
#include "code/utility/system/scopedhandle_win.h"
#include "code/utility/text/encoding.h"
#include "code/utility/text/limits.h"
#include "code/utility/text/textconv.h"

namespace {

const wchar_t kErrorPath[] = L"/aspx/web_conference/common/GWErrorServer.aspx";
const wchar_t kFormHeader[] = L"Content-Type: application/x-www-form-urlencoded";
// The process is going down; a server that does not answer must not keep it.
constexpr DWORD kRequestTimeoutMs = 30000;

std::string LastErrorText(DWORD iError) {
  wchar_t sText[1024] = L"";
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, iError, 0, sText,
                                 1024, nullptr);
  if (n == 0) return "";
  sText[1023] = 0;
  return TextConv::WideToUtf8(sText);
}

void Post(const std::string& sForm) {
  const BuildFlavor& oFlavor = GetBuildFlavor();
  ScopedInternet hSession(InternetOpenW(L"Internet Explorer", INTERNET_OPEN_TYPE_PROXY, nullptr, nullptr, 0));
  if (!hSession) hSession.Reset(InternetOpenW(L"Internet Explorer", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!hSession) return;
  DWORD iTimeout = kRequestTimeoutMs;
  InternetSetOptionW(hSession.Get(), INTERNET_OPTION_CONNECT_TIMEOUT, &iTimeout, sizeof iTimeout);
  InternetSetOptionW(hSession.Get(), INTERNET_OPTION_SEND_TIMEOUT, &iTimeout, sizeof iTimeout);
  InternetSetOptionW(hSession.Get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &iTimeout, sizeof iTimeout);

  std::string sAddress;
  const char* sHost = oFlavor.sErrorServerHost;
  if (!sHost || !*sHost || !Utility::ResolveHostName(sHost, sAddress) || sAddress.empty())
    sAddress = oFlavor.sErrorServerAddress ? oFlavor.sErrorServerAddress : "";
  if (sAddress.empty()) return;
  const std::wstring wsAddress = TextConv::Utf8ToWide(sAddress);
  ScopedInternet hConnection(InternetConnectW(hSession.Get(), wsAddress.c_str(),
                                              INTERNET_PORT(oFlavor.iErrorServerPort), nullptr, nullptr,
                                              INTERNET_SERVICE_HTTP, 0, 0));
  if (!hConnection) return;
  ScopedInternet hRequest(
      HttpOpenRequestW(hConnection.Get(), L"POST", kErrorPath, nullptr, nullptr, nullptr, 0, 0));
  if (!hRequest) return;
  HttpSendRequestW(hRequest.Get(), kFormHeader, DWORD(-1), const_cast<char*>(sForm.data()), DWORD(sForm.size()));
}

}  // namespace

void ErrorReport::Send() {
  CrashHandler::CrashPoint("report");

  wchar_t wsModule[Limits::kPath] = L"";
  const DWORD n = GetModuleFileNameW(nullptr, wsModule, Limits::kPath);
  if (n == 0 || n >= Limits::kPath) wsModule[0] = 0;
  const std::string sModule = TextConv::WideToUtf8(wsModule);
  char sFolder[Limits::kPath] = "";
  char sFile[Limits::kPath] = "";
  Utility::SplitAtLast(sModule.c_str(), sFolder, sFile, '\\');

  Inputs oInputs;
  oInputs.sCurrentFile = sFile;
  oInputs.sCurrentDirectory = sFolder;
  const std::string sPrefix = std::string(sFolder) + "\\";

  std::string sCache, sLog, sDump;
  if (Utility::ReadFileBytes(sPrefix + "Cache.xml", sCache)) oInputs.pCacheFile = &sCache;
  const char* sLogPath = MyLog::GetLogFilePath();
  if (sLogPath && *sLogPath && Utility::ReadFileBytes(sLogPath, sLog)) oInputs.pLogFile = &sLog;

  SystemInfo::GetIEVersion();
  SystemInfo::GetOSName();
  WSADATA oWsa;
  const bool bWinsock = WSAStartup(MAKEWORD(2, 2), &oWsa) == 0;
  SystemInfo::GetComputerInfo();
  const SystemInfo::Texts& oTexts = SystemInfo::GetTexts();
  oInputs.sComputerName = oTexts.sComputerName;
  oInputs.sComputerIP = oTexts.sComputerIP;
  oInputs.sOSName = oTexts.sOSName;
  oInputs.sIEVersion = oTexts.sIEVersion;
  oInputs.sIEBuild = oTexts.sIEBuild;
  oInputs.sIEMinorVersion = oTexts.sIEMinorVersion;

  // The code is taken once, so the text describes the same error.
  oInputs.iLastError = GetLastError();
  oInputs.sLastErrorText = LastErrorText(DWORD(oInputs.iLastError));

  oInputs.sVersion = VersionText::Get();
  if (oInputs.sVersion.empty()) {
    std::string sVersionFile;
    if (Utility::ReadFileBytes("version.txt", sVersionFile)) oInputs.sVersion = sVersionFile.c_str();
  }

  if (Utility::ReadFileBytes(sPrefix + "CRASH.DMP", sDump)) oInputs.pDumpFile = &sDump;

  Post(BuildForm(BuildBody(oInputs)));
  if (bWinsock) WSACleanup();
}

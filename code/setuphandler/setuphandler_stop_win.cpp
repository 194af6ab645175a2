#include <winsock2.h>
#include <windows.h>

#include "code/setuphandler/setuphandler.h"
#include "code/utility/log/logsink.h"
#include "code/utility/log/sockerror.h"
#include "code/utility/system/processutil.h"

namespace {
const char* const kSource = "code/setuphandler/setuphandler";
const wchar_t* const kClientWindowClass = L"QuorumvesselMainWindowClass";
const UINT kCloseRequest = WM_USER + 4000;
const DWORD kCloseWait = 1000;
const int kCloseChecks = 5;
}  // namespace

void SetupHandler::StopProcess() {
  const char* const kFunction = "SetupHandler::StopProcess";
  const char* const kLoopFunction = "SetupHandler:StopProcess()";
  QV_LOG(kFunction, 0, kSource, "Enter ...");

  HWND hWnd = FindWindowW(kClientWindowClass, nullptr);
  if (hWnd != nullptr) PostMessageW(hWnd, kCloseRequest, 0, 0);
  hWnd = FindWindowW(kClientWindowClass, nullptr);
  int iErrorCode = WSAGetLastError();

  // Give the client a few seconds to close on its own before it is stopped.
  for (int iPass = 0; hWnd != nullptr && iPass < kCloseChecks; ++iPass) {
    QV_LOG(kLoopFunction, 0, kSource, "Failed to close QuorumvesselMainWindowClass, error code: %d, error: %s",
           iErrorCode, GetSocketErrorText(iErrorCode));
    Sleep(kCloseWait);
    hWnd = FindWindowW(kClientWindowClass, nullptr);
    iErrorCode = WSAGetLastError();
    if (hWnd != nullptr) {
      QV_LOG(kLoopFunction, 0, kSource, "2Failed to close QuorumvesselMainWindowClass, error code: %d, error: %s",
             iErrorCode, GetSocketErrorText(iErrorCode));
      PostMessageW(hWnd, kCloseRequest, 0, 0);
      iErrorCode = WSAGetLastError();
      QV_LOG(kLoopFunction, 0, kSource, "3Failed to close QuorumvesselMainWindowClass, error code: %d, error: %s",
             iErrorCode, GetSocketErrorText(iErrorCode));
    }
    QV_LOG(kLoopFunction, 0, kSource, "4Failed to close QuorumvesselMainWindowClass, error code: %d, error: %s",
           iErrorCode, GetSocketErrorText(iErrorCode));
  }

  iErrorCode = WSAGetLastError();
  QV_LOG(kLoopFunction, 0, kSource, "1error code: %d, error: %s", iErrorCode, GetSocketErrorText(iErrorCode));
  Utility::TerminateProcessByName("\"Quorumvessel.exe\"");
  iErrorCode = WSAGetLastError();
  QV_LOG(kLoopFunction, 0, kSource, "2error code: %d, error: %s", iErrorCode, GetSocketErrorText(iErrorCode));
  // Also a name cut by one letter, as some systems report long names.
  Utility::TerminateProcessByName("\"Quorumvessel.ex\"");
  iErrorCode = WSAGetLastError();
  QV_LOG(kLoopFunction, 0, kSource, "3error code: %d, error: %s", iErrorCode, GetSocketErrorText(iErrorCode));
  Utility::TerminateProcessByName("\"QVInstaller.exe\"");
  iErrorCode = WSAGetLastError();
  QV_LOG(kFunction, 0, kSource, "Has stopped %s.exe and %s.exe, error code: %d, error: %s", "Quorumvessel",
         "QVInstaller", iErrorCode, GetSocketErrorText(iErrorCode));

  const bool bServiceModeRunning = Utility::IsProcessRunning("QVService.exe");
  QV_LOG(kFunction, 0, kSource, bServiceModeRunning ? "bServiceModeRunning is true" : "bServiceModeRunning is false");
}

void SetupHandler::EndProcess(unsigned int iExitCode) { ExitProcess(iExitCode); }

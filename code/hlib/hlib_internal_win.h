#pragma once
// What the parts of the HTTP client share: hlib_request_win.cpp (one WinInet
// request and its reply), hlib_proxy_win.cpp (the ordered connection
// strategies and the learned settings), hlib_detect_win.cpp (the system's
// proxy options and the auto-config script) and hlib_win.cpp (the page
// request with its three layers). Not for use outside code/hlib.
#include <winsock2.h>
#include <windows.h>
#include <wininet.h>

#include "code/hlib/hlib.h"
#include "code/utility/log/logsink.h"

namespace HLibInternal {
constexpr char kSource[] = "code/hlib/hlib";
constexpr char kGetPage[] = "HLib::GetPage";
constexpr char kSendRequest[] = "HR::SendRequest";
constexpr char kDoRequest[] = "HR::DoRequest";
constexpr char kContentType[] = "Content-Type: application/x-www-form-urlencoded";

inline const char* YN(bool b) { return b ? "Y" : "N"; }
inline const char* OrEmpty(const char* s) { return s ? s : ""; }
inline HINTERNET H(void* h) { return static_cast<HINTERNET>(h); }

// Connect, receive and send time-outs of the socket layer on hInternet;
// with bLog, failures and the value set are logged under HR::DoRequest.
void SetTimeouts(HINTERNET hInternet, bool bLog);

// Runs fStep, whose result is the caller's. An exception escaping it becomes
// a failed step, logged as "error code=%d" with the thread's last error
// under sFunction.
template <typename Step>
bool Guarded(const char* sFunction, int iSeverity, Step&& fStep) {
  try {
    return fStep();
  } catch (...) {
    QV_LOG(sFunction, iSeverity, kSource, "error code=%d", static_cast<int>(GetLastError()));
    return false;
  }
}
}  // namespace HLibInternal

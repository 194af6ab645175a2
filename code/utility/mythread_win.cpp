#include "code/utility/mythread.h"

#include <windows.h>
#include <process.h>

#include "code/crashreport/crashhandler.h"
#include "code/utility/logsink.h"
#include "code/utility/textconv.h"

#include <string>

namespace {
// The system's text for an error number, without the trailing line break.
std::string SystemErrorText(DWORD uError) {
  wchar_t sText[512] = {};
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, uError, 0, sText,
                                 512, nullptr);
  std::wstring s(sText, n);
  while (!s.empty() && (s.back() == L'\r' || s.back() == L'\n')) s.pop_back();
  return TextConv::WideToUtf8(s);
}
}  // namespace

MyThread::MyThread()
    : m_hStartedEvent(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      m_hFinishedEvent(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      m_bTimeCritical(true),
      m_hThread(nullptr),
      m_uThreadId(0) {}

MyThread::~MyThread() {
  if (m_hThread) CloseHandle(m_hThread);
  if (m_hFinishedEvent) CloseHandle(m_hFinishedEvent);
  if (m_hStartedEvent) CloseHandle(m_hStartedEvent);
}

void* MyThread::Start() {
  if (m_hThread) return m_hThread;  // started at most once
  unsigned uThreadId = 0;
  const uintptr_t h = _beginthreadex(nullptr, 0, &MyThread::ThreadFunc, this, 0, &uThreadId);
  m_hThread = reinterpret_cast<void*>(h);
  m_uThreadId = uThreadId;
  return m_hThread;
}

unsigned __stdcall MyThread::ThreadFunc(void* pObject) {
  MyThread* pThread = static_cast<MyThread*>(pObject);
  CrashHandler::InstallFilter();
  CrashHandler::CrashPoint("worker");  // test build only
  if (pThread->m_bTimeCritical) {
    // The starting thread may not have stored the handle yet.
    if (!SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL)) {
      const DWORD uError = GetLastError();
      QV_LOG("MyThread::ThreadFunc()", 3, "code/utility/mythread",
             "SetThreadPriority() failed, error code: %d, error: %s", static_cast<int>(uError),
             SystemErrorText(uError).c_str());
    }
  }
  SetEvent(pThread->m_hStartedEvent);
  pThread->Run();
  SetEvent(pThread->m_hFinishedEvent);
  return 0;
}

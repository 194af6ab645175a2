#include "code/utility/system/mythread.h"

#include <windows.h>
#include <process.h>

#include "code/crashreport/crashhandler.h"
#include "code/utility/log/logsink.h"

MyThread::MyThread()
    : m_hStartedEvent(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      m_hFinishedEvent(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      m_bTimeCritical(true),
      m_hThread(nullptr),
      m_uThreadId(0) {}

MyThread::~MyThread() = default;

void* MyThread::Start() {
  if (m_hThread) return m_hThread.Get();  // started at most once
  unsigned uThreadId = 0;
  const uintptr_t h = _beginthreadex(nullptr, 0, &MyThread::ThreadFunc, this, 0, &uThreadId);
  m_hThread.Reset(reinterpret_cast<void*>(h));
  m_uThreadId = uThreadId;
  return m_hThread.Get();
}

unsigned __stdcall MyThread::ThreadFunc(void* pObject) {
  MyThread* pThread = static_cast<MyThread*>(pObject);
  CrashHandler::InstallFilter();
  CrashHandler::CrashPoint("worker");  // test build only
  if (pThread->m_bTimeCritical) {
    // The starting thread may not have stored the handle yet.
    if (!SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL))
      QV_LOG_LAST_ERROR("MyThread::ThreadFunc()", 3, "code/utility/mythread", "SetThreadPriority() failed, ");
  }
  SetEvent(pThread->m_hStartedEvent.Get());
  pThread->Run();
  SetEvent(pThread->m_hFinishedEvent.Get());
  return 0;
}

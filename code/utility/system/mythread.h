#pragma once
#include <cstdint>

#include "code/utility/system/scopedhandle.h"

// Base of the worker objects: a derived class supplies Run(); Start() runs
// it on a new thread that first installs the crash filter, optionally raises
// its priority, and signals the two events around the body.
class MyThread {
 public:
  MyThread();
  virtual ~MyThread();  // closes the handles; neither waits for nor stops the thread
  MyThread(const MyThread&) = delete;
  MyThread& operator=(const MyThread&) = delete;

  virtual void Run() = 0;

  // Starts the thread (once); returns its handle, null when it could not be created.
  void* Start();

  // Owned HANDLE values (Get() gives the HANDLE); the object closes them.
  ScopedKernelHandle m_hStartedEvent;   // auto-reset; signalled just before Run
  ScopedKernelHandle m_hFinishedEvent;  // auto-reset; signalled just after Run returns
  bool m_bTimeCritical;                 // set by the owner before Start
  ScopedKernelHandle m_hThread;
  std::uint32_t m_uThreadId;

 private:
  static unsigned __stdcall ThreadFunc(void* pObject);
};

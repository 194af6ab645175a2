#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>

#include "code/utility/system/mythread.h"
#include "tests/unit/logcapture.h"

namespace {

class Probe : public MyThread {
 public:
  void Run() override {
    m_iPriority = GetThreadPriority(GetCurrentThread());
    m_uRunThreadId = GetCurrentThreadId();
    // The started event is already signalled, the finished one not yet.
    m_bStartedBeforeBody = WaitForSingleObject(m_hStartedEvent.Get(), 0) == WAIT_OBJECT_0;
    m_bFinishedBeforeEnd = WaitForSingleObject(m_hFinishedEvent.Get(), 0) == WAIT_OBJECT_0;
    m_pFilter = SetUnhandledExceptionFilter(nullptr);
    SetUnhandledExceptionFilter(m_pFilter);
  }
  int m_iPriority = -1;
  DWORD m_uRunThreadId = 0;
  bool m_bStartedBeforeBody = false;
  bool m_bFinishedBeforeEnd = true;
  LPTOP_LEVEL_EXCEPTION_FILTER m_pFilter = nullptr;
};

TEST(MyThreadStart, RunsTheBodyBetweenTheEventsAtTheChosenPriority) {
  for (bool bTimeCritical : {true, false}) {
    SCOPED_TRACE(bTimeCritical);
    LogCapture log;
    Probe probe;
    probe.m_bTimeCritical = bTimeCritical;
    ASSERT_NE(probe.Start(), nullptr);
    EXPECT_EQ(probe.Start(), probe.m_hThread.Get());  // a second start changes nothing
    ASSERT_EQ(WaitForSingleObject(probe.m_hThread.Get(), 30000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(probe.m_hFinishedEvent.Get(), 0), WAIT_OBJECT_0);
    EXPECT_TRUE(probe.m_bStartedBeforeBody);
    EXPECT_FALSE(probe.m_bFinishedBeforeEnd);
    EXPECT_EQ(probe.m_uRunThreadId, probe.m_uThreadId);
    EXPECT_NE(probe.m_uRunThreadId, GetCurrentThreadId());
    EXPECT_EQ(probe.m_iPriority, bTimeCritical ? THREAD_PRIORITY_TIME_CRITICAL : THREAD_PRIORITY_NORMAL);
    EXPECT_TRUE(log.entries().empty());
  }
}

TEST(MyThreadStart, InstallsTheCrashFilterOnItsThread) {
  SetUnhandledExceptionFilter(nullptr);
  Probe probe;
  probe.m_bTimeCritical = false;
  ASSERT_NE(probe.Start(), nullptr);
  ASSERT_EQ(WaitForSingleObject(probe.m_hThread.Get(), 30000), WAIT_OBJECT_0);
  EXPECT_NE(probe.m_pFilter, nullptr);
  SetUnhandledExceptionFilter(nullptr);
}

}  // namespace

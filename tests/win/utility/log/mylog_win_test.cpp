#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "code/utility/log/logsink.h"
#include "code/utility/log/mylog.h"
#include "tests/win/testdir_win.h"

namespace {
const char kStamp[] = "\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}";

// The one log of the test process, pointed at a fresh folder for each test.
MyLog* FreshLog(const TestDir& oDir) {
  MyLog::CreateInstance("QVSetup");
  MyLog* pLog = MyLog::GetInstance();
  EXPECT_NE(pLog, nullptr);
  EXPECT_TRUE(pLog->SetDirectory(oDir.Utf8().c_str()));
  EXPECT_TRUE(pLog->SetFileName("QVSetup.txt"));
  EXPECT_TRUE(pLog->Initialize());
  return pLog;
}

std::string Entry(const std::string& sFunction, int iLine, const std::string& sMessage) {
  return std::string(kStamp) + "\r\nFunction: " + sFunction + "\r\nLine: " + std::to_string(iLine) +
         "\r\nMessage: " + sMessage + "\r\n\r\n";
}
}  // namespace

TEST(MyLogCreateInstance, SecondCreationKeepsTheFirst) {
  MyLog::CreateInstance("QVSetup");
  MyLog* pFirst = MyLog::GetInstance();
  ASSERT_NE(pFirst, nullptr);
  EXPECT_FALSE(MyLog::CreateInstance("Other"));
  EXPECT_EQ(MyLog::GetInstance(), pFirst);
  EXPECT_STREQ(pFirst->GetInstanceName(), "QVSetup");
}

TEST(MyLogInitialize, RotatesEarlierRunsAndStartsEmpty) {
  TestDir oDir("log_rotate");
  oDir.Write("QVSetup.txt", "previous run");
  oDir.Write("QVSetup.txt.bak", "run before");
  oDir.Write("QVSetup.txt.bak.bak", "oldest");
  MyLog* pLog = FreshLog(oDir);
  EXPECT_EQ(oDir.Read("QVSetup.txt"), "");
  EXPECT_EQ(oDir.Read("QVSetup.txt.bak"), "previous run");
  EXPECT_EQ(oDir.Read("QVSetup.txt.bak.bak"), "run before");
  EXPECT_EQ(std::string(pLog->GetFilePath()), oDir.Utf8("QVSetup.txt"));
  EXPECT_STREQ(MyLog::GetLogFilePath(), pLog->GetFilePath());
  EXPECT_EQ(pLog->GetMaxSize(), 1024000);
}

TEST(MyLogInitialize, DefaultFolderIsTheTemporaryFolder) {
  wchar_t wsTemp[MAX_PATH] = {0};
  GetTempPathW(MAX_PATH, wsTemp);
  // A log object of its own would be a second instance; check the rule on
  // the process's log by clearing its folder.
  MyLog::CreateInstance("QVSetup");
  MyLog* pLog = MyLog::GetInstance();
  ASSERT_TRUE(pLog->SetDirectory(""));
  ASSERT_TRUE(pLog->SetFileName("qvtest_default_folder.txt"));
  ASSERT_TRUE(pLog->Initialize());
  EXPECT_EQ(std::string(pLog->GetFilePath()), TextConv::WideToUtf8(wsTemp) + "qvtest_default_folder.txt");
  for (const char* sSuffix : {"", ".bak", ".bak.bak"})
    DeleteFileW((std::wstring(wsTemp) + L"qvtest_default_folder.txt" + TextConv::Utf8ToWide(sSuffix)).c_str());
}

TEST(MyLogWrite, EntryBytesOnDiskWithCrLfAndPercentAsItStands) {
  TestDir oDir("log_write");
  MyLog* pLog = FreshLog(oDir);
  // Outside text goes in as an argument: its "%" signs are not interpreted.
  pLog->Write("SetupHandler::Run", 0, "code/setuphandler/setuphandler", 42, "%s", "100% done %d%s%n\nnext line");
  QV_LOG("Utility::CopyMyFile()", 3, "code/utility/utility", "sSourceFile, %s, does not exist", "C:\\a%20b.txt");
  const std::string sFile = oDir.Read("QVSetup.txt");
  const std::regex oExpected("^" + Entry("SetupHandler::Run", 42, "100% done %d%s%n\r\nnext line") +
                             Entry("Utility::CopyMyFile\\(\\)", __LINE__ - 3,
                                   "sSourceFile, C:\\\\a%20b\\.txt, does not exist") +
                             "$");
  EXPECT_TRUE(std::regex_match(sFile, oExpected)) << sFile;
}

TEST(MyLogWrite, EntriesFromSeveralThreadsStayWhole) {
  TestDir oDir("log_threads");
  MyLog* pLog = FreshLog(oDir);
  const int kThreads = 6, kEntries = 40;
  std::vector<std::thread> oThreads;
  for (int t = 0; t < kThreads; ++t) {
    oThreads.emplace_back([pLog, t] {
      // Long bodies make a torn entry likely if the lock were missing.
      const std::string sBody(1500, static_cast<char>('a' + t));
      for (int i = 0; i < kEntries; ++i) pLog->Write("Worker", 0, "src", t, "%d:%d:%s", t, i, sBody.c_str());
    });
  }
  for (auto& th : oThreads) th.join();

  const std::string sFile = oDir.Read("QVSetup.txt");
  const std::regex oEntry(std::string(kStamp) + "\r\nFunction: Worker\r\nLine: (\\d)\r\nMessage: (\\d):(\\d+):([a-z]+)\r\n\r\n");
  std::vector<int> iNext(kThreads, 0);
  std::size_t iConsumed = 0;
  int iCount = 0;
  for (std::sregex_iterator it(sFile.begin(), sFile.end(), oEntry), end; it != end; ++it) {
    const std::smatch& m = *it;
    ASSERT_EQ(static_cast<std::size_t>(m.position(0)), iConsumed) << "torn entry near byte " << iConsumed;
    iConsumed += m.length(0);
    const int t = std::stoi(m[2]);
    ASSERT_EQ(std::stoi(m[1]), t);
    EXPECT_EQ(std::stoi(m[3]), iNext[t]++);  // each thread's entries in its own order
    EXPECT_EQ(m[4].str(), std::string(1500, static_cast<char>('a' + t)));
    ++iCount;
  }
  EXPECT_EQ(iConsumed, sFile.size());
  EXPECT_EQ(iCount, kThreads * kEntries);
}

TEST(MyLogWrite, DeletedFileIsCreatedAgain) {
  TestDir oDir("log_deleted");
  MyLog* pLog = FreshLog(oDir);
  pLog->Write("First", 0, "src", 1, "%s", "before");
  ASSERT_TRUE(DeleteFileW(oDir.Of("QVSetup.txt").c_str()));
  pLog->Write("Second", 0, "src", 2, "%s", "after");
  EXPECT_TRUE(std::regex_match(oDir.Read("QVSetup.txt"), std::regex("^" + Entry("Second", 2, "after") + "$")));
}

TEST(MyLogWrite, RotatesOnlyWhenSizePlusHeaderExceedsTheMaximum) {
  TestDir oDir("log_size");
  MyLog* pLog = FreshLog(oDir);
  pLog->Write("F", 0, "src", 7, "%s", "first");
  const std::size_t iOnDisk = oDir.Read("QVSetup.txt").size();
  // Header of the next entry: stamp + "\nFunction: F" + "\nLine: 7" + "\nMessage: ",
  // counted before the line ends become CR LF.
  const std::size_t iHeader = 19 + 12 + 8 + 10;

  pLog->SetMaxSize(static_cast<int>(iOnDisk + iHeader));  // exactly at the maximum: no rotation
  pLog->Write("F", 0, "src", 7, "%s", "second");
  EXPECT_FALSE(oDir.Exists("QVSetup.txt.bak"));
  const std::string sBoth = oDir.Read("QVSetup.txt");
  EXPECT_TRUE(std::regex_match(sBoth, std::regex("^" + Entry("F", 7, "first") + Entry("F", 7, "second") + "$")));

  pLog->SetMaxSize(static_cast<int>(sBoth.size() + iHeader - 1));  // one byte more: rotation first
  pLog->Write("F", 0, "src", 7, "%s", "third");
  EXPECT_EQ(oDir.Read("QVSetup.txt.bak"), sBoth);
  EXPECT_TRUE(std::regex_match(oDir.Read("QVSetup.txt"), std::regex("^" + Entry("F", 7, "third") + "$")));

  pLog->SetMaxSize(1);  // every write rotates: the older backup moves on
  pLog->Write("F", 0, "src", 7, "%s", "fourth");
  EXPECT_EQ(oDir.Read("QVSetup.txt.bak.bak"), sBoth);
  EXPECT_TRUE(std::regex_match(oDir.Read("QVSetup.txt.bak"), std::regex("^" + Entry("F", 7, "third") + "$")));
  pLog->SetMaxSize(MyLogFormat::kMaxSize);
}

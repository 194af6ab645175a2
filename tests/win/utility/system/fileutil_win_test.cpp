#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "code/utility/system/fileutil.h"
#include "tests/unit/logcapture.h"
#include "tests/win/testdir_win.h"

namespace {
void SetAttributes(const TestDir& oDir, const std::string& sName, DWORD iAttributes) {
  ASSERT_TRUE(SetFileAttributesW(oDir.Of(sName).c_str(), iAttributes));
}
}  // namespace

TEST(ReadWholeFile, DataFollowedBySpareBytes) {
  TestDir oDir("read_whole");
  const std::string sBytes("MZ\0\x01\r\n\x1a tail", 11);
  oDir.Write("a.bin", sBytes);
  oDir.Write("empty.bin", "");
  std::size_t iSize = 99;
  std::unique_ptr<char[]> oData;
  ASSERT_TRUE(Utility::ReadWholeFile(oDir.Utf8("a.bin").c_str(), 512, &iSize, oData));
  EXPECT_EQ(std::string(oData.get(), iSize), sBytes);  // binary: CR LF and ^Z untouched
  oData[iSize + Utility::kReadWholeFileSpare - 1] = 0;  // the spare bytes are ours to use

  ASSERT_TRUE(Utility::ReadWholeFile(oDir.Utf8("empty.bin").c_str(), 512, &iSize, oData));
  EXPECT_EQ(iSize, 0u);
  ASSERT_NE(oData, nullptr);
  std::memset(oData.get(), 'x', Utility::kReadWholeFileSpare);
}

TEST(ReadWholeFile, FailuresGiveNothing) {
  TestDir oDir("read_whole_fail");
  oDir.Write("a.bin", "abc");
  const std::string sPath = oDir.Utf8("a.bin");
  struct Case {
    std::string sPath;
    int iPathLength;
  } const kCases[] = {
      {oDir.Utf8("missing.bin"), 512},
      {sPath, static_cast<int>(sPath.size())},  // no room left for the terminator
      {sPath, 0},
      {oDir.Utf8(), 512},  // a folder
  };
  for (const Case& c : kCases) {
    std::size_t iSize = 5;
    std::unique_ptr<char[]> oData(new char[1]);
    EXPECT_FALSE(Utility::ReadWholeFile(c.sPath.c_str(), c.iPathLength, &iSize, oData)) << c.sPath;
    EXPECT_EQ(iSize, 0u);
    EXPECT_EQ(oData, nullptr);
  }
  std::size_t iSize = 0;
  std::unique_ptr<char[]> oData;
  EXPECT_TRUE(Utility::ReadWholeFile(sPath.c_str(), static_cast<int>(sPath.size()) + 1, &iSize, oData));
}

TEST(GetFileData, ZeroTerminatedCopyOrLoggedMiss) {
  TestDir oDir("file_data");
  oDir.Write("starter.cfg", std::string("line1\r\nline2\0x", 14));
  std::size_t iSize = 0;
  std::unique_ptr<char[]> oData;
  Utility::GetFileData(oDir.Utf8("starter.cfg").c_str(), &iSize, oData);
  ASSERT_EQ(iSize, 14u);
  EXPECT_EQ(std::string(oData.get(), iSize), std::string("line1\r\nline2\0x", 14));
  EXPECT_EQ(oData[iSize], '\0');

  LogCapture oLog;
  const std::string sMissing = oDir.Utf8("none.cfg");
  iSize = 7;
  Utility::GetFileData(sMissing.c_str(), &iSize, oData);
  EXPECT_EQ(iSize, 0u);
  EXPECT_EQ(oData, nullptr);
  Utility::GetFileData("", &iSize, oData);
  Utility::GetFileData(nullptr, &iSize, oData);
  ASSERT_EQ(oLog.entries().size(), 1u);
  EXPECT_EQ(oLog.entries()[0].sFunction, "Utility::GetFileData()");
  EXPECT_EQ(oLog.entries()[0].sMessage, "Failed to open sFileName " + sMissing);
}

TEST(CopyMyFile, ReplacesDestinationOrReportsMissingSource) {
  TestDir oDir("copy_file");
  oDir.Write("src.txt", "new content");
  oDir.Write("dst.txt", "old content that is longer");
  EXPECT_TRUE(Utility::CopyMyFile(oDir.Utf8("src.txt").c_str(), oDir.Utf8("dst.txt").c_str()));
  EXPECT_EQ(oDir.Read("dst.txt"), "new content");

  LogCapture oLog;
  const std::string sMissing = oDir.Utf8("gone.txt");
  EXPECT_FALSE(Utility::CopyMyFile(sMissing.c_str(), oDir.Utf8("dst.txt").c_str()));
  EXPECT_FALSE(Utility::CopyMyFile(nullptr, oDir.Utf8("dst.txt").c_str()));
  EXPECT_EQ(oDir.Read("dst.txt"), "new content");
  EXPECT_EQ(oLog.messages(), std::vector<std::string>{"sSourceFile, " + sMissing + ", does not exist"});
}

TEST(RemoveAllFile, RemovesProtectedEntriesAndTheFolder) {
  TestDir oDir("remove_all");
  oDir.Write("tree/readonly.txt", "r");
  oDir.Write("tree/sub/hidden.txt", "h");
  oDir.Write("tree/sub/deeper/system.dat", "s");
  oDir.Write("outside.txt", "stays");
  SetAttributes(oDir, "tree/readonly.txt", FILE_ATTRIBUTE_READONLY);
  SetAttributes(oDir, "tree/sub/hidden.txt", FILE_ATTRIBUTE_HIDDEN);
  SetAttributes(oDir, "tree/sub/deeper/system.dat", FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY);
  SetAttributes(oDir, "tree/sub", FILE_ATTRIBUTE_READONLY);

  LogCapture oLog;
  const std::string sTree = oDir.Utf8("tree");
  EXPECT_TRUE(Utility::RemoveAllFile(sTree.c_str(), ""));
  EXPECT_FALSE(oDir.Exists("tree"));
  EXPECT_EQ(oDir.Read("outside.txt"), "stays");
  // One closing line per folder, the outermost last, logged as an error.
  ASSERT_FALSE(oLog.entries().empty());
  const LoggedEntry oLast = oLog.entries().back();
  EXPECT_EQ(oLast.sFunction, "Utility::RemoveAllFile()");
  EXPECT_EQ(oLast.iSeverity, 3);
  EXPECT_EQ(oLast.sMessage.rfind("End of RemoveAllFile: path = " + sTree + ", ", 0), 0u) << oLast.sMessage;
  EXPECT_NE(oLast.sMessage.find(", error code: "), std::string::npos);
  EXPECT_EQ(oLog.entries().size(), 3u);
}

TEST(RemoveAllFile, KeepsTheNamedFileAndItsFolders) {
  TestDir oDir("remove_keep");
  oDir.Write("tree/a.txt", "a");
  oDir.Write("tree/keep/settings.ini", "k");
  oDir.Write("tree/keep/other.txt", "o");
  oDir.Write("tree/gone/b.txt", "b");
  EXPECT_TRUE(Utility::RemoveAllFile(oDir.Utf8("tree").c_str(), "settings.ini"));
  EXPECT_EQ(oDir.Read("tree/keep/settings.ini"), "k");
  EXPECT_FALSE(oDir.Exists("tree/a.txt"));
  EXPECT_FALSE(oDir.Exists("tree/keep/other.txt"));
  EXPECT_FALSE(oDir.Exists("tree/gone"));
}

TEST(RemoveAllFile, UnlistableFolderIsRefused) {
  TestDir oDir("remove_missing");
  EXPECT_FALSE(Utility::RemoveAllFile(oDir.Utf8("missing").c_str(), ""));
  EXPECT_FALSE(Utility::RemoveAllFile("", ""));
  EXPECT_FALSE(Utility::RemoveAllFile(nullptr, ""));
}

TEST(FileExists, FilesAndFolders) {
  TestDir oDir("exists");
  oDir.Write("f.txt", "x");
  EXPECT_TRUE(Utility::FileExists(oDir.Utf8("f.txt").c_str()));
  EXPECT_TRUE(Utility::FileExists(oDir.Utf8().c_str()));
  EXPECT_FALSE(Utility::FileExists(oDir.Utf8("g.txt").c_str()));
  EXPECT_FALSE(Utility::FileExists((oDir.Utf8() + std::string(600, 'x')).c_str()));
  EXPECT_FALSE(Utility::FileExists(nullptr));
}

TEST(WholeSmallFile, WriteStoresLineFeedsAsCrLfAndReadGivesTheBytes) {
  TestDir oDir("whole_small");
  oDir.Write("cmd.txt", "an older, longer content that must go");
  ASSERT_TRUE(Utility::WriteTextFile(oDir.Utf8("cmd.txt"), "<__A__>1</__A__>\n<__B__>\xC3\xA4</__B__>\n"));
  EXPECT_EQ(oDir.Read("cmd.txt"), "<__A__>1</__A__>\r\n<__B__>\xC3\xA4</__B__>\r\n");
  ASSERT_TRUE(Utility::WriteTextFile(oDir.Of("wide.txt").wstring(), ""));
  EXPECT_EQ(oDir.Read("wide.txt"), "");

  // Binary and whole, also while another program holds the file open for writing.
  const std::string sBytes("MZ\0\r\n\x1a" "end", 9);
  oDir.Write("a.bin", sBytes);
  HANDLE hHeld = CreateFileW(oDir.Of("a.bin").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(hHeld, INVALID_HANDLE_VALUE);
  std::string sRead = "stale";
  EXPECT_TRUE(Utility::ReadFileBytes(oDir.Utf8("a.bin"), sRead));
  CloseHandle(hHeld);
  EXPECT_EQ(sRead, sBytes);

  sRead = "stale";
  EXPECT_FALSE(Utility::ReadFileBytes(oDir.Utf8("missing.bin"), sRead));
  EXPECT_EQ(sRead, "");
  EXPECT_FALSE(Utility::WriteTextFile(oDir.Utf8("no-such-folder\\x.txt"), "x"));
  EXPECT_FALSE(Utility::WriteTextFile(std::string(600, 'a'), "x"));  // a path too long is refused, not cut
}

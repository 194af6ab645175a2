#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "code/utility/system/statusfilehandler.h"
#include "code/utility/text/textconv.h"
#include "tests/unit/logcapture.h"

namespace {
const char* const kStart = "<__ClientCalledToLaunch__>";
const char* const kEnd = "</__ClientCalledToLaunch__>";

// A fresh empty folder under the temporary folder.
std::string NewFolder(const char* sName) {
  wchar_t sTemp[MAX_PATH];
  GetTempPathW(MAX_PATH, sTemp);
  const std::string sFolder = TextConv::WideToUtf8(sTemp) + "qv_status_" + sName + "_" +
                              std::to_string(GetCurrentProcessId());
  const std::wstring w = TextConv::Utf8ToWide(sFolder);
  DeleteFileW((w + L"\\setup_status.txt").c_str());
  RemoveDirectoryW(w.c_str());
  CreateDirectoryW(w.c_str(), nullptr);
  return sFolder;
}

std::string FileBytes(const std::string& sFolder) {
  std::ifstream f(TextConv::Utf8ToWide(sFolder + "\\setup_status.txt").c_str(), std::ios::binary);
  if (!f) return "<missing>";
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

void PutBytes(const std::string& sFolder, const std::string& sBytes) {
  std::ofstream f(TextConv::Utf8ToWide(sFolder + "\\setup_status.txt").c_str(), std::ios::binary);
  f << sBytes;
}
}  // namespace

TEST(ReadStatus, MissingFileIsCreatedWithTheDefault) {
  const std::string sFolder = NewFolder("read");
  char sValue[512] = "x";
  EXPECT_TRUE(StatusFileHandler().ReadStatus(0, sFolder.c_str(), kStart, kEnd, sValue));
  EXPECT_STREQ(sValue, "Y");
  EXPECT_EQ(FileBytes(sFolder), "<__ClientCalledToLaunch__>Y</__ClientCalledToLaunch__>");
}

TEST(WriteStatus, MissingFileStartsFromTheDefault) {
  const std::string sFolder = NewFolder("write");
  EXPECT_TRUE(StatusFileHandler().WriteStatus(0, sFolder.c_str(), kStart, kEnd, "N"));
  EXPECT_EQ(FileBytes(sFolder), "<__ClientCalledToLaunch__>N</__ClientCalledToLaunch__>");
  char sValue[512];
  EXPECT_TRUE(StatusFileHandler().ReadStatus(0, sFolder.c_str(), kStart, kEnd, sValue));
  EXPECT_STREQ(sValue, "N");
}

TEST(WriteStatus, OtherElementsKeptByteForByte) {
  const std::string sFolder = NewFolder("keep");
  const std::string sBefore = "<__A__>1 \x1A\t</__A__>\r\n";
  const std::string sAfter = "\r\n<__B__>\xC3\xA9</__B__>\r\n";
  PutBytes(sFolder, sBefore + "<__ClientCalledToLaunch__>N</__ClientCalledToLaunch__>" + sAfter);
  EXPECT_TRUE(StatusFileHandler().WriteStatus(0, sFolder.c_str(), kStart, kEnd, "Y"));
  EXPECT_EQ(FileBytes(sFolder), sBefore + "<__ClientCalledToLaunch__>Y</__ClientCalledToLaunch__>" + sAfter);
  // Text mode: a line feed in a value is stored as CR LF.
  EXPECT_TRUE(StatusFileHandler().WriteStatus(0, sFolder.c_str(), kStart, kEnd, "a\nb"));
  EXPECT_EQ(FileBytes(sFolder), sBefore + "<__ClientCalledToLaunch__>a\r\nb</__ClientCalledToLaunch__>" + sAfter);
}

TEST(StatusFileHandler, Failures) {
  const std::string sNoElement = NewFolder("noelement");
  PutBytes(sNoElement, "<__A__>1</__A__>");
  const std::string sMissing = NewFolder("gone") + "\\not_there";
  struct Case {
    const char* sName;
    int iType;
    std::string sFolder;
    std::string sReadLine;
    std::string sWriteLine;
  } aCases[] = {
      {"other type", 1, sNoElement, "Invalid iStatusFileType = 1", "Invalid iStatusFileType = 1"},
      {"element missing", 0, sNoElement, "failed to find <__ClientCalledToLaunch__> in <__A__>1</__A__>",
       "failed to replace N for <__ClientCalledToLaunch__> in <__A__>1</__A__>"},
      {"folder missing", 0, sMissing, "failed to open " + sMissing + "\\setup_status.txt for writing",
       "failed to open " + sMissing + "\\setup_status.txt for writing"},
  };
  for (const auto& c : aCases) {
    LogCapture log;
    char sValue[512] = "x";
    EXPECT_FALSE(StatusFileHandler().ReadStatus(c.iType, c.sFolder.c_str(), kStart, kEnd, sValue)) << c.sName;
    EXPECT_STREQ(sValue, "") << c.sName;
    EXPECT_FALSE(StatusFileHandler().WriteStatus(c.iType, c.sFolder.c_str(), kStart, kEnd, "N")) << c.sName;
    ASSERT_EQ(log.entries().size(), 2u) << c.sName;
    EXPECT_EQ(log.entries()[0].sMessage, c.sReadLine) << c.sName;
    EXPECT_EQ(log.entries()[0].iSeverity, 3);
    EXPECT_EQ(log.entries()[0].sFunction, "StatusFileHandler::ReadStatus");
    EXPECT_EQ(log.entries()[1].sMessage, c.sWriteLine) << c.sName;
    EXPECT_EQ(log.entries()[1].sFunction, "StatusFileHandler::WriteStatus");
    EXPECT_EQ(log.entries()[1].sSource, "code/utility/statusfilehandler");
  }
  EXPECT_EQ(FileBytes(sNoElement), "<__A__>1</__A__>");
}

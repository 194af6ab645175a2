#include "code/utility/system/statusfilehandler.h"

#include <cstdio>
#include <string>

#include "code/utility/log/logsink.h"
#include "code/utility/system/fileutil.h"
#include "code/utility/system/scopedhandle_win.h"
#include "code/utility/text/asciitext.h"
#include "code/utility/text/boundedtext.h"
#include "code/utility/text/encoding.h"
#include "code/utility/text/tagtext.h"

namespace {
const char* const kSource = "code/utility/statusfilehandler";
const char* const kFileName = "setup_status.txt";
const char* const kDefaultContent = "<__ClientCalledToLaunch__>Y</__ClientCalledToLaunch__>";

// The file as text, CR LF taken back to LF as text mode does, but without
// stopping at a Ctrl-Z byte.
bool ReadContent(const std::string& sPath, std::string& sContent) {
  if (!Utility::ReadFileBytes(sPath, sContent)) return false;
  sContent = Utility::FoldLineBreaks(sContent);
  return true;
}
}  // namespace

bool StatusFileHandler::ReadStatus(int iStatusFileType, const char* sFolder, const char* sStartTag,
                                   const char* sEndTag, char* sValue, std::size_t iValueSize) {
  const char* const kFunction = "StatusFileHandler::ReadStatus";
  if (sValue != nullptr && iValueSize > 0) sValue[0] = '\0';
  if (iStatusFileType != 0) {
    QV_LOG(kFunction, 3, kSource, "Invalid iStatusFileType = %d", iStatusFileType);
    return false;
  }
  const std::string sPath = std::string(sFolder ? sFolder : "") + "\\" + kFileName;
  std::string sContent;
  if (!ReadContent(sPath, sContent)) {
    sContent = kDefaultContent;
    if (!Utility::WriteTextFile(sPath, sContent)) {
      QV_LOG(kFunction, 3, kSource, "failed to open %s for writing", sPath.c_str());
      return false;
    }
  }
  std::string sFound;
  if (!TagText::Extract(sContent.c_str(), sStartTag, sEndTag, sFound)) {
    QV_LOG(kFunction, 3, kSource, "failed to find %s in %s", sStartTag ? sStartTag : "", sContent.c_str());
    return false;
  }
  if (!Utility::CopyIfFits(sValue, iValueSize, sFound)) {
    QV_LOG(kFunction, 3, kSource, "value of %s too long: %d bytes", sStartTag, static_cast<int>(sFound.size()));
    return false;
  }
  return true;
}

bool StatusFileHandler::WriteStatus(int iStatusFileType, const char* sFolder, const char* sStartTag,
                                    const char* sEndTag, const char* sValue) {
  const char* const kFunction = "StatusFileHandler::WriteStatus";
  if (iStatusFileType != 0) {
    QV_LOG(kFunction, 3, kSource, "Invalid iStatusFileType = %d", iStatusFileType);
    return false;
  }
  const std::string sPath = std::string(sFolder ? sFolder : "") + "\\" + kFileName;
  std::string sContent;
  if (!ReadContent(sPath, sContent)) sContent = kDefaultContent;
  std::string sNewContent;
  if (!TagText::Replace(sContent.c_str(), sValue ? sValue : "", sStartTag, sEndTag, sNewContent)) {
    QV_LOG(kFunction, 3, kSource, "failed to replace %s for %s in %s", sValue ? sValue : "",
           sStartTag ? sStartTag : "", sContent.c_str());
    return false;
  }
  if (!Utility::WriteTextFile(sPath, sNewContent)) {
    QV_LOG(kFunction, 3, kSource, "failed to open %s for writing", sPath.c_str());
    return false;
  }
  return true;
}

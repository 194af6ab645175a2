#include "code/utility/log/mylog.h"

#include <cstdio>

namespace MyLogFormat {

std::string EntryHeader(const LocalTime& t, const char* sFunction, int iLine) {
  char sStamp[64];
  std::snprintf(sStamp, sizeof(sStamp), "%d-%02d-%02d %02d:%02d:%02d", t.iYear, t.iMonth, t.iDay, t.iHour,
                t.iMinute, t.iSecond);
  std::string sHeader(sStamp);
  sHeader += "\nFunction: ";
  sHeader += sFunction ? sFunction : "";
  sHeader += "\nLine: ";
  sHeader += std::to_string(iLine);
  sHeader += "\nMessage: ";
  return sHeader;
}

bool ShouldRotate(long long iCurrentSize, std::size_t iHeaderLength, int iMaxSize) {
  return iCurrentSize + static_cast<long long>(iHeaderLength) > static_cast<long long>(iMaxSize);
}

bool BuildPaths(const std::string& sDirectory, const std::string& sFileName, std::string* pLogFile,
                std::string* pBackup, std::string* pBackup2) {
  const std::string sLog = sDirectory + sFileName;
  // The longest of the three, with its terminator, must fit a path buffer.
  if (sFileName.empty() || sLog.size() + 8 >= Limits::kPath) return false;
  *pLogFile = sLog;
  *pBackup = sLog + ".bak";
  *pBackup2 = sLog + ".bak.bak";
  return true;
}

}  // namespace MyLogFormat

#include "code/hlib/serveraccess.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "code/utility/log/logsink.h"
#include "code/utility/text/asciitext.h"
#include "code/utility/text/encoding.h"

namespace {
const char kSource[] = "code/hlib/hlib";
const char kAddCache[] = "HR::AddCache";

const char* OrEmpty(const char* s) { return s ? s : ""; }

std::string ReadField(const std::string& s) { return s == "NULL" ? std::string() : s; }

bool HostMatches(const std::string& sField, const char* sIP, const ServerAccess::Resolver& fnResolve,
                 bool& bResolved, std::string& sResolved) {
  if (sField == sIP) return true;
  if (!bResolved) {
    bResolved = true;
    if (!fnResolve || !fnResolve(sIP, sResolved)) sResolved.clear();
  }
  return !sResolved.empty() && sField == sResolved;
}

bool HasBreak(const char* s) { return std::strpbrk(OrEmpty(s), "\r\n\t") != nullptr; }

std::string Join(const std::vector<std::string>& lines) {
  std::string s;
  for (const std::string& line : lines) {
    if (!s.empty()) s += "\n";
    s += line;
  }
  return s;
}
}  // namespace

namespace ServerAccess {

std::string BuildRecord(const char* sIP, int iPort, bool bSecure, char cPType, const char* sByPass,
                        const char* sPAddress) {
  std::string s = OrEmpty(sIP);
  s += "\t" + std::to_string(iPort) + "\t" + (bSecure ? "Y" : "N") + "\t";
  s += cPType;
  s += "\t";
  s += OrEmpty(sByPass);
  s += "\t";
  s += OrEmpty(sPAddress);
  return s;
}

bool Find(const std::string& sStore, const char* sIP, int iPort, const Resolver& fnResolve,
          Setting& setting) {
  setting = Setting();
  if (sIP == nullptr) return false;
  std::vector<std::string> lines;
  Utility::Split(sStore, "\n", lines);
  const std::string sPort = Utility::IntToString(iPort);
  bool bResolved = false;
  std::string sResolved;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::vector<std::string> fields;
    Utility::Split(lines[i], "\t", fields);
    if (fields.size() < 6) continue;
    if (fields[1] != sPort || !HostMatches(fields[0], sIP, fnResolve, bResolved, sResolved)) continue;
    setting.iIndex = static_cast<int>(i);
    setting.sLine = lines[i];
    setting.cPType = fields[3].empty() ? 0 : fields[3][0];
    setting.sByPass = ReadField(fields[4]);
    setting.sPAddress = ReadField(fields[5]);
    return true;
  }
  return false;
}

bool RemoveLine(std::string& sStore, const std::string& sLine) {
  std::vector<std::string> lines, kept;
  Utility::Split(sStore, "\n", lines);
  for (const std::string& line : lines)
    if (line != sLine) kept.push_back(line);
  if (kept.size() == lines.size()) return false;
  sStore = Join(kept);
  return true;
}

AddResult Add(std::string& sStore, const char* sIP, int iPort, bool bSecure, char cPType,
              const char* sByPass, const char* sPAddress, const Resolver& fnResolve) {
  // A line break or tab in a field would split or shift the stored line.
  if (HasBreak(sByPass) || HasBreak(sPAddress) || HasBreak(sIP) || sIP == nullptr) {
    if (sByPass) QV_LOG(kAddCache, 0, kSource, "Do not cache this setting sByPass = %s", sByPass);
    if (sPAddress) QV_LOG(kAddCache, 0, kSource, "Do not cache this setting sProxyAddress = %s", sPAddress);
    if (HasBreak(sIP)) QV_LOG(kAddCache, 0, kSource, "Do not cache this setting sIP = %s", sIP);
    return AddResult::kRefused;
  }
  const std::size_t iByPass = std::strlen(OrEmpty(sByPass));
  const std::size_t iProxy = std::strlen(OrEmpty(sPAddress));
  const std::string sRecord = BuildRecord(sIP, iPort, bSecure, cPType, sByPass, sPAddress);
  if (iByPass > kMaxFieldLength || iProxy > kMaxFieldLength ||
      iProxy + kHeadroom + sStore.size() + iByPass > kStoreSize ||
      sStore.size() + (sStore.empty() ? 0 : 1) + sRecord.size() + kHeadroom > kStoreSize) {
    QV_LOG(kAddCache, 0, kSource,
           "Too long: iByPassLength = %d, iProxyAddressLength = %d, iServerAccessSettingLength = %d",
           static_cast<int>(iByPass), static_cast<int>(iProxy), static_cast<int>(sStore.size()));
    return AddResult::kRefused;
  }
  std::vector<std::string> lines;
  Utility::Split(sStore, "\n", lines);
  for (const std::string& line : lines)
    if (line == sRecord) return AddResult::kPresent;
  bool bResolved = false;
  std::string sResolved;
  for (std::string& line : lines) {
    std::vector<std::string> fields;
    Utility::Split(line, "\t", fields);
    if (fields.size() < 6 || Utility::ReadDecimal(fields[1].data(), fields[1].size()).AsInt() != iPort) continue;
    if (!HostMatches(fields[0], sIP, fnResolve, bResolved, sResolved)) continue;
    line = sRecord;
    sStore = Join(lines);
    return AddResult::kReplaced;
  }
  if (!sStore.empty()) sStore += "\n";
  sStore += sRecord;
  return AddResult::kAdded;
}

Shared& GetShared() {
  static Shared shared;
  return shared;
}

}  // namespace ServerAccess

#include "code/setuphandler/setupstate.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

#include "code/crashreport/versiontext.h"
#include "code/utility/log/logmask.h"
#include "code/utility/log/logsink.h"
#include "code/utility/protect/queryprotection.h"
#include "code/utility/text/asciitext.h"
#include "code/utility/text/boundedtext.h"
#include "code/utility/text/queryparameters.h"
#include "code/utility/text/tagtext.h"
#include "code/utility/text/textconv.h"

SetupState::SetupState()
    : m_sAccountServerName{},
      m_iAccountServerPort(kDefaultAccountServerPort),
      m_sClientName{"Quorumvessel"},
      m_sVersion{},
      m_sSetting{},
      m_sCurrentDirectory{},
      m_sCurrentFile{},
      m_sClientDirectory{},
      m_sSetupFile{},
      m_pSetupDownloader(nullptr),
      m_pSetupInterface(nullptr),
      m_sTempDirectory{},
      m_sSetupDirectory{},
      m_sUserApplicationDirectory{},
      m_sStartMenuDirectory{},
      m_sDesktopDirectory{},
      m_sCommandLine{},
      m_bCalledByClientToSyncVersion(false),
      m_bIsClientInstalled(false),
      m_bIsVersionSynced(false),
      m_bClientFilesAvailable(false),
      m_bCalledByCommandLine(false),
      m_sStarterSid{} {}

bool SetupState::HasRole(const char* sSetting) {
  return sSetting != nullptr && std::strstr(sSetting, "<__Role__>") != nullptr;
}

std::string SetupState::VersionWord(const std::string& sContent) {
  auto isBlank = [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
  };
  std::size_t i = 0;
  while (i < sContent.size() && isBlank(sContent[i])) ++i;
  std::size_t j = i;
  while (j < sContent.size() && sContent[j] != '\0' && !isBlank(sContent[j])) ++j;
  // The word lives in a value buffer; a longer one is cut, which can only
  // make the comparison fail.
  return sContent.substr(i, std::min(j - i, Limits::kValue - 1));
}

namespace {
const char* const kSource = "code/setuphandler/setuphandler";


// Why a link value is not taken, or null. A web page writes these values, and
// they are pasted into a tagged text: a tag would add an element of its own
// choosing (a starter sid, a second client name), a line break or a NUL byte
// a line of the command file. The client name and the version also become
// parts of folder paths.
const char* RefusalOf(const char* sKey, const std::string& sValue) {
  if (sValue.find("<__") != std::string::npos || sValue.find("</__") != std::string::npos ||
      sValue.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
    return "the value holds a tag, a line break or a NUL byte";
  if (std::strcmp(sKey, "client_name") == 0 && !SetupState::IsPlainClientName(sValue)) return "not a plain name";
  if (std::strcmp(sKey, "version") == 0 && !SetupState::IsVersionWord(sValue)) return "not a version word";
  return nullptr;
}

bool IsAsciiAlphanumeric(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }
}  // namespace

bool SetupState::IsPlainClientName(const std::string& sName) {
  for (const char c : sName) {
    if (!IsAsciiAlphanumeric(c) && c != ' ' && c != '-' && c != '_' && c != '.') return false;
  }
  return sName.find("..") == std::string::npos;
}

bool SetupState::IsVersionWord(const std::string& sVersion) {
  for (const char c : sVersion) {
    if (!IsAsciiAlphanumeric(c) && c != '.' && c != '-' && c != '_' && c != '+') return false;
  }
  return sVersion.find("..") == std::string::npos;
}

bool SetupState::IsProtocolLink(const char* sCommandLine) {
  if (sCommandLine == nullptr) return false;
  const char* p = sCommandLine;
  while (*p == ' ' || *p == '\t' || *p == '"') ++p;
  const char* const pScheme = p;
  if (!((*p >= 'A' && *p <= 'Z') || (*p >= 'a' && *p <= 'z'))) return false;
  while (IsAsciiAlphanumeric(*p) || *p == '+' || *p == '-' || *p == '.') ++p;
  return *p == ':' && p - pScheme >= 2;
}

SetupState::CalledBy SetupState::CalledByFlag(const char* sFunction) const {
  static const char kDownloader[] = "--called_by_downloader";
  static const char kClientToSync[] = "--called_by_client_to_sync";
  const bool bDownloader = std::strstr(m_sCommandLine, kDownloader) != nullptr;
  const bool bClientToSync = std::strstr(m_sCommandLine, kClientToSync) != nullptr;
  if (!bDownloader && !bClientToSync) return CalledBy::kNone;
  if (IsProtocolLink(m_sCommandLine)) {
    if (bDownloader) QV_LOG(sFunction, 0, kSource, "Ignored %s in a protocol link", kDownloader);
    if (bClientToSync) QV_LOG(sFunction, 0, kSource, "Ignored %s in a protocol link", kClientToSync);
    return CalledBy::kNone;
  }
  // A command line with both takes the downloader's parameter file.
  return bDownloader ? CalledBy::kDownloader : CalledBy::kClientToSync;
}

std::string SetupState::LinkRemainder(const std::string& sCommandLine) {
  const std::size_t iColon = sCommandLine.find(':');
  if (iColon == std::string::npos) return sCommandLine;
  std::vector<char> aQuery(sCommandLine.begin() + static_cast<std::ptrdiff_t>(iColon) + 1, sCommandLine.end());
  aQuery.push_back('\0');
  // The parser moves each item to the front of its buffer in turn.
  QueryParameters oIgnored;
  oIgnored.Parse(aQuery.data(), '&', false);
  return sCommandLine.substr(0, iColon + 1) + aQuery.data();
}

std::string SetupState::InstallerCommandLine(const std::string& sInstaller, std::size_t iCapacity) const {
  const std::string sWhole = "\"" + sInstaller + "\" " + m_sCommandLine;
  if (!TextConv::Utf8ToWideBounded(sWhole, iCapacity).empty() || !IsProtocolLink(m_sCommandLine)) return sWhole;
  const std::string sCut = "\"" + sInstaller + "\" " + LinkRemainder(m_sCommandLine);
  QV_LOG("SetupHandler::CallToInstall", 0, kSource, "sStartProcess does not fit %u characters, passing on %s",
         static_cast<unsigned>(iCapacity - 1), LogMask::CommandLine(sCut).c_str());
  return sCut;
}

void SetupState::ParseSetting(const char* sSetting) {
  const char* const kFunction = "SetupHandler::ParseSetting";
  if (sSetting == nullptr || sSetting[0] == '\0') return;
  // A value that does not fit its member is refused; the member keeps what
  // it had.
  auto take = [&](const char* sName, char* sMember, std::size_t iSize) {
    const std::string sStart = std::string("<__") + sName + "__>";
    const std::string sEnd = std::string("</__") + sName + "__>";
    std::string sValue;
    if (!TagText::Extract(sSetting, sStart.c_str(), sEnd.c_str(), sValue)) return;
    if (!Utility::CopyIfFits(sMember, iSize, sValue))
      QV_LOG(kFunction, 0, kSource, "Refused %s: %d bytes do not fit %d", sName, static_cast<int>(sValue.size()),
             static_cast<int>(iSize - 1));
  };
  take("AccountServerIP", m_sAccountServerName, sizeof(m_sAccountServerName));
  std::string sPort;
  if (TagText::Extract(sSetting, "<__AccountServerPort__>", "</__AccountServerPort__>", sPort))
    m_iAccountServerPort = Utility::ReadDecimal(sPort.data(), sPort.size()).AsInt();
  take("ClientName", m_sClientName, sizeof(m_sClientName));
  take("Version", m_sVersion, sizeof(m_sVersion));
  m_sStarterSid[0] = '\0';
  take("StarterSid", m_sStarterSid, sizeof(m_sStarterSid));
  VersionText::SetFromClientVersion(m_sVersion);
  if (!Utility::CopyIfFits(m_sSetting, sizeof(m_sSetting), sSetting)) {
    QV_LOG(kFunction, 0, kSource, "Refused sSetting: %d bytes do not fit %d", static_cast<int>(std::strlen(sSetting)),
           static_cast<int>(sizeof(m_sSetting) - 1));
    m_sSetting[0] = '\0';
  }
}

std::string SetupState::BuildSetting(const QueryParameters& oQuery) {
  struct Row {
    const char* sKey;
    const char* sElement;
  };
  static const Row kRows[] = {
      {"account_server_ip", "AccountServerIP"},
      {"port", "AccountServerPort"},
      {"meeting_password", "MeetingPassword"},
      {"meeting_id", "MeetingId"},
      {"meeting_type", "MeetingType"},
      {"role", "Role"},
      {"version", "Version"},
      {"publisher_name", "Publisher"},
      {"publisher_url", "AboutURL"},
      {"name", "AttendeeName"},
      {"email", "Email"},
      {"email", "AttendeeEmail"},
      {"user_password", "UserPassword"},
      {"pass_through", "PassThrough"},
      {"client_name", "ClientName"},
      {"publisher_url", "PublisherURL"},
      {"publisher_name", "PublisherName"},
      {"oem_id", "OEMId"},
      {"oem_company_name", "OEMCompanyName"},
      {"oem_company_url", "OEMCompanyURL"},
      {"powered_by_field_name", "PoweredByFieldName"},
      {"main_icon", "MainIcon"},
      {"minor_icon", "MinorIcon"},
      {"login_title", "LoginTitle"},
      {"plst", "IsPanelist"},
      {"client_hide_server_address", "ClientHideServerAddress"},
      {"recognize_manufacturer", "RecognizeManufacturer"},
      {"my_product_type", "MyProductType"},
      {"my_product_sub_type", "MyProductSubType"},
  };
  std::string sSetting;
  std::set<std::string> aRefused;
  for (const Row& oRow : kRows) {
    std::string sValue = oQuery.GetValue(oRow.sKey);
    const char* sWhy = RefusalOf(oRow.sKey, sValue);
    if (sWhy != nullptr) {
      // Keys that feed two elements are named once.
      if (aRefused.insert(oRow.sKey).second)
        QV_LOG("SetupHandler::ProcessCommandLine", 0, kSource, "Refused %s: %s", oRow.sKey, sWhy);
      sValue.clear();
    }
    // The two flags have opposite defaults and compare exactly.
    if (std::strcmp(oRow.sKey, "client_hide_server_address") == 0) sValue = sValue == "Y" ? "Y" : "N";
    if (std::strcmp(oRow.sKey, "recognize_manufacturer") == 0) sValue = sValue == "N" ? "N" : "Y";
    sSetting += std::string("<__") + oRow.sElement + "__>" + sValue + "</__" + oRow.sElement + "__>";
  }
  return sSetting;
}

void SetupState::ProcessCommandLine(char* sSetting, std::size_t iSettingSize) {
  const char* const kFunction = "SetupHandler::ProcessCommandLine";
  m_bCalledByCommandLine = true;
  const char* pColon = std::strchr(m_sCommandLine, ':');
  if (pColon == nullptr) {
    QV_LOG(kFunction, 0, kSource, "Missing :, invalid m_sCommandLine = %s",
           LogMask::CommandLine(m_sCommandLine).c_str());
    return;
  }
  // The parser works on its own copies; m_sCommandLine stays whole for the
  // installer.
  const std::string sQuery(pColon + 1);
  QueryParameters oOuter;
  oOuter.Parse(sQuery, '&', true);
  std::string sParameter = oOuter.GetValue("sp");
  std::string sCheckSum = oOuter.GetValue("chk");
  QV_LOG(kFunction, 0, kSource, "sParameter = %s, sCheckSum = %s", LogMask::Parameter(sParameter).c_str(),
         LogMask::Parameter(sCheckSum).c_str());
  QueryParameters oResult;
  if (!Utility::DecryptQuery(sParameter, sCheckSum, &oResult)) {
    QueryParameters oPlain;
    oPlain.Parse(sQuery, '&', false);
    sParameter = oPlain.GetValue("sp");
    sCheckSum = oPlain.GetValue("chk");
    QV_LOG(kFunction, 0, kSource, "No URLdecoding: sParameter = %s, sCheckSum = %s",
           LogMask::Parameter(sParameter).c_str(), LogMask::Parameter(sCheckSum).c_str());
    if (!Utility::DecryptQuery(sParameter, sCheckSum, &oResult)) {
      QV_LOG(kFunction, 0, kSource, "Utility::DecryptQuery() failed. sParameter = %s, sCheckSum = %s",
             LogMask::Parameter(sParameter).c_str(), LogMask::Parameter(sCheckSum).c_str());
      return;
    }
  }
  const std::string sBuilt = BuildSetting(oResult);
  QV_LOG(kFunction, 0, kSource, "sSetting = %s", LogMask::Setting(sBuilt).c_str());
  if (!Utility::CopyIfFits(sSetting, iSettingSize, sBuilt)) {
    QV_LOG(kFunction, 0, kSource, "Refused sSetting: %d bytes do not fit %d", static_cast<int>(sBuilt.size()),
           static_cast<int>(iSettingSize) - 1);
  }
}

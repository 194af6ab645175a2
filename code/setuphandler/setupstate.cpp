#include "code/setuphandler/setupstate.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "code/utility/boundedtext.h"
#include "code/utility/logmask.h"
#include "code/utility/logsink.h"
#include "code/utility/queryparameters.h"
#include "code/utility/queryprotection.h"
#include "code/utility/tagtext.h"
#include "code/utility/versiontext.h"

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

// Decimal value with the C library's rules: leading blanks and a sign,
// stopping at the first non-digit, 0 without digits.
int DecimalValue(const std::string& sText) {
  const long long iValue = std::strtoll(sText.c_str(), nullptr, 10);
  if (iValue > INT_MAX) return INT_MAX;
  if (iValue < INT_MIN) return INT_MIN;
  return static_cast<int>(iValue);
}
}  // namespace

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
    m_iAccountServerPort = DecimalValue(sPort);
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
  for (const Row& oRow : kRows) {
    std::string sValue = oQuery.GetValue(oRow.sKey);
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
         sCheckSum.c_str());
  QueryParameters oResult;
  if (!Utility::DecryptQuery(sParameter, sCheckSum, &oResult)) {
    QueryParameters oPlain;
    oPlain.Parse(sQuery, '&', false);
    sParameter = oPlain.GetValue("sp");
    sCheckSum = oPlain.GetValue("chk");
    QV_LOG(kFunction, 0, kSource, "No URLdecoding: sParameter = %s, sCheckSum = %s",
           LogMask::Parameter(sParameter).c_str(), sCheckSum.c_str());
    if (!Utility::DecryptQuery(sParameter, sCheckSum, &oResult)) {
      QV_LOG(kFunction, 0, kSource, "Utility::DecryptQuery() failed. sParameter = %s, sCheckSum = %s",
             LogMask::Parameter(sParameter).c_str(), sCheckSum.c_str());
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

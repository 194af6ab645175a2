// The first layer of a page request: the ways through the user's network,
// tried in a fixed order until one request succeeds, and the store of the
// ways that worked (the learned server access settings).
//
//   1. the way learned for this host and port, if any;
//   2. the system's settings: direct, the system configuration, the explicit
//      proxy or its "https=" and "socks=" entries (SetOptionR);
//   3. the auto-config script at the configured location (SetOptionA);
//   4. an auto-config script found by automatic discovery (SetOptionA).
//
// Every way that works is remembered (AddCache); a learned way that fails
// is dropped. Each attempt is one DoRequest (hlib_request_win.cpp); the
// system options and the script come from hlib_detect_win.cpp.
#include <cstring>
#include <mutex>
#include <string>

#include "code/hlib/hlib_internal_win.h"
#include "code/hlib/requesttext.h"
#include "code/hlib/serveraccess.h"
#include "code/utility/net/socketdownload.h"
#include "code/utility/system/myconfigure.h"

using namespace HLibInternal;

namespace {
bool ResolveForStore(const char* sHost, std::string& sIP) { return Utility::ResolveHostName(sHost, sIP); }

// The store is loaded from the configuration cache on first use; the caller
// holds the store's lock.
void LoadStoreLocked(ServerAccess::Shared& shared) {
  if (shared.bLoaded) return;
  shared.bLoaded = true;
  MyConfigure* pConfigure = MyConfigure::GetInstance();
  if (pConfigure == nullptr) return;
  char sValue[ServerAccess::kStoreSize] = {0};
  if (pConfigure->ReadConfigure(ServerAccess::kStartTag, ServerAccess::kEndTag, sValue)) shared.sText = sValue;
}

void SaveStoreLocked(const ServerAccess::Shared& shared) {
  MyConfigure* pConfigure = MyConfigure::GetInstance();
  if (pConfigure) pConfigure->WriteConfigure(ServerAccess::kStartTag, ServerAccess::kEndTag, shared.sText.c_str());
}

std::string StoreText() {
  ServerAccess::Shared& shared = ServerAccess::GetShared();
  std::lock_guard<std::mutex> lock(shared.mutex);
  return shared.sText;
}
}  // namespace

bool HR::SendRequest(const char* sURL, const char* sIP, int iPort, bool bSecure, const char* sVerb,
                     const char* sPostData) {
  std::lock_guard<std::mutex> lock(m_csRequest);
  return Guarded(kSendRequest, 3, [&] { return SendRequestLocked(sURL, sIP, iPort, bSecure, sVerb, sPostData); });
}

bool HR::SendRequestLocked(const char* sURL, const char* sIP, int iPort, bool bSecure, const char* sVerb,
                           const char* sPostData) {
  QV_LOG(kSendRequest, 0, kSource, "HR::SendRequest NEW session for sIP = %s on iPort = %d", OrEmpty(sIP), iPort);
  const std::string sLogURL = RequestText::LogFormOfURL(sURL);
  const bool bConnectionSucceeded = TryStoredSetting(sURL, sIP, iPort, bSecure, sVerb, sPostData, sLogURL) ||
                                    TrySystemSettings(sURL, sIP, iPort, bSecure, sVerb, sPostData);
  if (bConnectionSucceeded) {
    QV_LOG(kSendRequest, 0, kSource, "HR::SendRequest succeeded! m_sServerAccessSetting = %s", StoreText().c_str());
  } else {
    QV_LOG(kSendRequest, 0, kSource, "HR::SendRequest failed! %s, %s, %d", sLogURL.c_str(), OrEmpty(sIP),
           2 * iPort + 10);
  }
  return bConnectionSucceeded;
}

bool HR::TryStoredSetting(const char* sURL, const char* sIP, int iPort, bool bSecure, const char* sVerb,
                          const char* sPostData, const std::string& sLogURL) {
  ServerAccess::Setting setting;
  bool bFound;
  {
    ServerAccess::Shared& shared = ServerAccess::GetShared();
    std::lock_guard<std::mutex> lock(shared.mutex);
    LoadStoreLocked(shared);
    bFound = ServerAccess::Find(shared.sText, sIP, iPort, &ResolveForStore, setting);
  }
  if (!bFound) return false;
  QV_LOG(kSendRequest, 0, kSource, "Using aServerAccessSetting[%d] = %s", setting.iIndex, setting.sLine.c_str());
  if (DoRequest(sURL, sIP, iPort, bSecure, sVerb, setting.cPType, setting.sByPass.c_str(), setting.sPAddress.c_str(),
                sPostData)) {
    QV_LOG(kSendRequest, 0, kSource, "OK with aServerAccessSetting[i] = %s, URL = %s", setting.sLine.c_str(),
           sLogURL.c_str());
    return true;
  }
  {
    ServerAccess::Shared& shared = ServerAccess::GetShared();
    std::lock_guard<std::mutex> lock(shared.mutex);
    if (ServerAccess::RemoveLine(shared.sText, setting.sLine)) SaveStoreLocked(shared);
  }
  QV_LOG(kSendRequest, 0, kSource, "Failed with aServerAccessSetting[i] = %s, URL = %s", setting.sLine.c_str(),
         sLogURL.c_str());
  return false;
}

bool HR::TrySystemSettings(const char* sURL, const char* sIP, int iPort, bool bSecure, const char* sVerb,
                           const char* sPostData) {
  QV_LOG(kSendRequest, 0, kSource, "No valid/matched aServerAccessSetting");
  SystemProxyOptions options;
  if (!DP(options)) return false;
  bool bConnectionSucceeded = SetOptionR(sURL, sIP, iPort, bSecure, sVerb, options.sByPass.c_str(),
                                         options.bHasProxyServer ? options.sProxyServer.c_str() : nullptr, sPostData);
  QV_LOG(kSendRequest, 0, kSource, "After SetOptionR() bConnectionSucceeded = %s", YN(bConnectionSucceeded));

  char sWPADLocation[kWPADLocationSize] = {0};
  std::memcpy(sWPADLocation, options.sWPADLocation.data(), options.sWPADLocation.size());
  if (!bConnectionSucceeded && sWPADLocation[0]) {
    bConnectionSucceeded = TryScript(sURL, sIP, iPort, bSecure, sVerb, sPostData, sWPADLocation, "auto URL");
  } else {
    QV_LOG(kSendRequest, 0, kSource, "WPADLocation = %s, bConnectionSucceeded = %s", sWPADLocation,
           YN(bConnectionSucceeded));
  }
  if (!bConnectionSucceeded && (options.iFlags & PROXY_TYPE_AUTO_DETECT)) {
    sWPADLocation[0] = 0;
    bConnectionSucceeded = TryScript(sURL, sIP, iPort, bSecure, sVerb, sPostData, sWPADLocation, "auto detect");
  } else {
    QV_LOG(kSendRequest, 0, kSource, "Option[2].Value.dwValue = %d, bConnectionSucceeded = %s",
           static_cast<int>(options.iFlags), YN(bConnectionSucceeded));
  }
  return bConnectionSucceeded;
}

bool HR::TryScript(const char* sURL, const char* sIP, int iPort, bool bSecure, const char* sVerb,
                   const char* sPostData, char* sWPADLocation, const char* sStep) {
  char sProxyList[kProxyListSize] = {0};
  Detect(sURL, sIP, iPort, sWPADLocation, sProxyList);
  if (sProxyList[0] == 0) {
    QV_LOG(kSendRequest, 0, kSource, "empty after %s", sStep);
    return false;
  }
  QV_LOG(kSendRequest, 0, kSource, "%s after %s", sProxyList, sStep);
  return SetOptionA(sURL, sIP, iPort, bSecure, sVerb, sProxyList, sPostData);
}

bool HLib::SetOptionR(const char* sURL, const char* sIP, int iPort, bool bSecure, const char* sVerb,
                      const char* sByPass, const char* sProxyServer, const char* sPostData) {
  // One candidate: remembered when its request succeeds.
  auto tryWay = [&](char cPType, const char* sPAddress) {
    if (!DoRequest(sURL, sIP, iPort, bSecure, sVerb, cPType, sByPass, sPAddress, sPostData)) return false;
    AddCache(sIP, iPort, bSecure, cPType, sByPass, sPAddress);
    return true;
  };
  return Guarded("HLib::SetOptionR", 3, [&] {
    if (tryWay('D', "") || tryWay('L', "")) return true;
    if (sProxyServer == nullptr || *sProxyServer == 0) return false;
    if (std::strchr(sProxyServer, '=') == nullptr) return tryWay('P', sProxyServer);
    // A per-protocol list: its "https=" entry, then its "socks=" entry.
    const struct {
      const char* sName;
      char cPType;
    } entries[] = {{"https=", 'H'}, {"socks=", 'S'}};
    for (const auto& e : entries) {
      const std::string sEntry = RequestText::ProtocolEntry(sProxyServer, e.sName);
      if (!sEntry.empty() && tryWay(e.cPType, sEntry.c_str())) return true;
    }
    return false;
  });
}

bool HLib::SetOptionA(const char* sURL, const char* sIP, int iPort, bool bSecure, const char* sVerb,
                      const char* sProxyList, const char* sPostData) {
  return Guarded("HLib::SetOptionA", 3, [&] {
    for (const RequestText::ProxyCandidate& c : RequestText::ScriptCandidates(sProxyList)) {
      if (DoRequest(sURL, sIP, iPort, bSecure, sVerb, c.cPType, "", c.sPAddress.c_str(), sPostData)) {
        AddCache(sIP, iPort, bSecure, c.cPType, "", c.sPAddress.c_str());
        return true;
      }
    }
    return false;
  });
}

// ---------------------------------------------------------------------------
// The learned settings

void HR::AddCache(const char* sIP, int iPort, bool bSecure, char cPType, const char* sByPass, const char* sPAddress) {
  ServerAccess::Shared& shared = ServerAccess::GetShared();
  std::lock_guard<std::mutex> lock(shared.mutex);
  LoadStoreLocked(shared);
  const ServerAccess::AddResult r =
      ServerAccess::Add(shared.sText, sIP, iPort, bSecure, cPType, sByPass, sPAddress, &ResolveForStore);
  if (r == ServerAccess::AddResult::kAdded || r == ServerAccess::AddResult::kReplaced) SaveStoreLocked(shared);
}

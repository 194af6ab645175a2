#include "code/hlib/requesttext.h"

#include <cstring>

namespace {
std::string Trimmed(const std::string& s) {
  const std::size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return std::string();
  const std::size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}
}  // namespace

namespace RequestText {

std::string LogFormOfURL(const char* sURL) {
  if (sURL == nullptr) return std::string();
  std::string s = sURL;
  std::size_t i = s.find('?');
  if (i == std::string::npos) i = s.find("%3F");
  if (i != std::string::npos) s.resize(i);
  return s;
}

std::string AddTimeParameter(const char* sURL, long long iSeconds) {
  std::string s = sURL ? sURL : "";
  s += s.find('?') != std::string::npos ? "&rdm=" : "?rdm=";
  s += std::to_string(static_cast<int>(static_cast<unsigned int>(iSeconds & 0xFFFFFFFFLL)));
  return s;
}

std::string SocketURL(const char* sIP, int iPort, const char* sURL) {
  std::string s = "http://";
  s += sIP ? sIP : "";
  if (iPort != 80 && iPort != 0) s += ":" + std::to_string(iPort);  // 0: the scheme's default
  s += sURL ? sURL : "";
  return s;
}

bool ContainsKeyword(const char* pBuffer, std::size_t iLength, const char* sKey) {
  if (sKey == nullptr || *sKey == 0) return true;
  if (pBuffer == nullptr) return false;
  const std::size_t iText = strnlen(pBuffer, iLength);
  const std::size_t iKey = std::strlen(sKey);
  for (std::size_t i = 0; i + iKey <= iText; ++i)
    if (std::memcmp(pBuffer + i, sKey, iKey) == 0) return true;
  return false;
}

void ScriptQuestion(const char* sIP, int iPort, const char* sURL, const char* const* pDomains,
                    std::size_t iDomains, const char* sPublicSite, std::string& sURLText,
                    std::string& sHostText) {
  const std::string sHost = sIP ? sIP : "";
  const std::string sPath = sURL ? sURL : "";
  if (iPort == 80) {
    sHostText = "http://" + sHost;
  } else if (iPort == 443) {
    sHostText = "https://" + sHost;
  } else {
    sHostText = "http://" + sHost + ":" + std::to_string(iPort);
  }
  sURLText = sHostText + sPath;
  for (std::size_t i = 0; i < iDomains && sPublicSite; ++i) {
    if (pDomains[i] && *pDomains[i] && sHost.find(pDomains[i]) != std::string::npos) {
      sHostText = sPublicSite;
      sURLText = sHostText + sPath;
      break;
    }
  }
}

std::vector<ProxyCandidate> ScriptCandidates(const char* sProxyList) {
  std::vector<ProxyCandidate> out;
  if (sProxyList == nullptr) return out;
  const std::string sList = sProxyList;
  std::size_t iStart = 0;
  while (iStart <= sList.size()) {
    std::size_t iEnd = sList.find(';', iStart);
    if (iEnd == std::string::npos) iEnd = sList.size();
    const std::string sRaw = sList.substr(iStart, iEnd - iStart);
    iStart = iEnd + 1;
    if (sRaw.size() > kMaxEntryLength) continue;
    const std::string sEntry = Trimmed(sRaw);
    if (sEntry.compare(0, 6, "PROXY ") == 0) {
      out.push_back({'P', Trimmed(sEntry.substr(6))});
    } else if (sEntry.compare(0, 6, "DIRECT") == 0) {
      out.push_back({'D', std::string()});
    } else if (sEntry.compare(0, 6, "SOCKS ") == 0) {
      out.push_back({'S', "socks=" + Trimmed(sEntry.substr(6))});
    }
  }
  return out;
}

std::string ProtocolEntry(const char* sProxyServer, const char* sName) {
  if (sProxyServer == nullptr || sName == nullptr) return std::string();
  const std::string s = sProxyServer;
  const std::size_t i = s.find(sName);
  if (i == std::string::npos) return std::string();
  std::size_t iEnd = s.find(';', i);
  if (iEnd == std::string::npos) iEnd = s.size();
  if (iEnd - i > kMaxEntryLength) return std::string();
  return s.substr(i, iEnd - i);
}

}  // namespace RequestText

// Deployment values; a build for a real service sets them with
// -DQV_SERVICE_DOMAIN_1=... -DQV_PUBLIC_HTTPS_SITE=... (the defaults name
// nothing that exists).
#ifndef QV_SERVICE_DOMAIN_1
#define QV_SERVICE_DOMAIN_1 "service-one.invalid"
#endif
#ifndef QV_SERVICE_DOMAIN_2
#define QV_SERVICE_DOMAIN_2 "service-two.invalid"
#endif
#ifndef QV_SERVICE_DOMAIN_3
#define QV_SERVICE_DOMAIN_3 "service-three.invalid"
#endif
#ifndef QV_SERVICE_DOMAIN_4
#define QV_SERVICE_DOMAIN_4 "service-four.invalid"
#endif
#ifndef QV_PUBLIC_HTTPS_SITE
#define QV_PUBLIC_HTTPS_SITE "https://public-site.invalid"
#endif

namespace HLibDeployment {
const char* const* ServiceDomains() {
  static const char* const domains[kServiceDomainCount] = {QV_SERVICE_DOMAIN_1, QV_SERVICE_DOMAIN_2,
                                                           QV_SERVICE_DOMAIN_3, QV_SERVICE_DOMAIN_4};
  return domains;
}
const char* PublicHttpsSite() { return QV_PUBLIC_HTTPS_SITE; }
}  // namespace HLibDeployment

#pragma once
#include <cstddef>
#include <string>
#include <vector>

// Texts the HTTP client builds around a request: what it logs, what it asks
// the server and the auto-config script, and the proxy candidates it tries.
namespace RequestText {

// The path before its query ("?", else "%3F"), for log lines.
std::string LogFormOfURL(const char* sURL);

// The request object name: the URL with "?rdm=" or "&rdm=" and the time.
std::string AddTimeParameter(const char* sURL, long long iSeconds);

// "http://host/path" for port 80 or 0 (no port given), else "http://host:port/path".
std::string SocketURL(const char* sIP, int iPort, const char* sURL);

// True when the first iLength bytes of pBuffer, read as text (up to a zero
// byte), contain sKey. An empty key is always found.
bool ContainsKeyword(const char* pBuffer, std::size_t iLength, const char* sKey);

// What the auto-config script is asked about: the URL and the host texts.
// Hosts in one of the service domains are replaced by sPublicSite.
void ScriptQuestion(const char* sIP, int iPort, const char* sURL, const char* const* pDomains,
                    std::size_t iDomains, const char* sPublicSite, std::string& sURLText,
                    std::string& sHostText);

struct ProxyCandidate {
  char cPType;
  std::string sPAddress;
};
constexpr std::size_t kMaxEntryLength = 63;

// Entries of a script answer ("PROXY h:p; SOCKS h:p; DIRECT") in order.
// Entries longer than kMaxEntryLength or of an unknown kind are left out.
std::vector<ProxyCandidate> ScriptCandidates(const char* sProxyList);

// The "name=..." entry of a per-protocol proxy list ("http=a:1;https=b:2"),
// up to the next ";" and starting with the name; empty when it is missing or
// longer than kMaxEntryLength.
std::string ProtocolEntry(const char* sProxyServer, const char* sName);

}  // namespace RequestText

// Deployment values of the auto-config step: requests to these service
// domains ask the script about a public HTTPS site instead. Set at build
// time (QV_SERVICE_DOMAIN_1..4, QV_PUBLIC_HTTPS_SITE).
namespace HLibDeployment {
constexpr std::size_t kServiceDomainCount = 4;
const char* const* ServiceDomains();
const char* PublicHttpsSite();
}  // namespace HLibDeployment

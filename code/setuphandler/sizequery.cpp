#include "code/setuphandler/sizequery.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "code/utility/log/logsink.h"
#include "code/utility/text/asciitext.h"
#include "code/utility/text/tagtext.h"

namespace SizeQuery {
namespace {
const char kFunction[] = "SetupHandler::Download";
const char kSource[] = "code/setuphandler/setuphandler";

int LeadingNumber(const char* s) {
  const Utility::Decimal d = Utility::ReadDecimal(s, std::strlen(s));
  // No package is that big: treat it as no size.
  if (d.iValue > INT_MAX || d.iValue < -INT_MAX) return 0;
  return static_cast<int>(d.iValue);
}
}  // namespace

int ParseClientSize(const char* sReply) {
  std::string sValue;
  if (TagText::Extract(sReply, "<__ClientSize__>", "</__ClientSize__>", sValue)) return LeadingNumber(sValue.c_str());
  return LeadingNumber(sReply);
}

int PortForAttempt(int iFirstPort, int iAttempt) {
  switch (iAttempt) {
    case 0: return iFirstPort;
    case 1: return iFirstPort == 443 ? 80 : 443;
    case 2: return iFirstPort == 8889 ? kNoAttempt : 8889;
    default: return kNoAttempt;
  }
}

int Query(Requester& requester, const char* sServerName, int* piAccountServerPort, int* piUsedPort) {
  // Room for the random parameter that each request appends.
  char sTempURL[4096];
  std::snprintf(sTempURL, sizeof(sTempURL), "%s?client_type=%d&xml_format=Y&client=%s", "/as/wapi/get_client_size",
                0, "pc");
  QV_LOG(kFunction, 0, kSource, "sTempURL = %s", sTempURL);
  const int iFirstPort = *piAccountServerPort;
  char sReply[kReplySize + 1] = {};
  int iDownloadSize = 0;
  for (int iAttempt = 0; iAttempt < 3; ++iAttempt) {
    const int iPort = PortForAttempt(iFirstPort, iAttempt);
    if (iPort == kNoAttempt) break;
    *piAccountServerPort = iPort;
    sReply[0] = '\0';
    // The request zero-fills the whole reply buffer; one byte beyond stays a terminator.
    if (requester.GetPage(iPort, sTempURL, sReply, kReplySize, piUsedPort)) {
      sReply[kReplySize] = '\0';
      iDownloadSize = ParseClientSize(sReply);
      if (iDownloadSize >= 1) return iDownloadSize;
    }
  }
  QV_LOG(kFunction, 0, kSource, "Failed to download client from: %s:%d, iDownloadSize = %d, sDownloadSize = %s",
         sServerName, *piAccountServerPort, iDownloadSize, sReply);
  return 0;
}

}  // namespace SizeQuery

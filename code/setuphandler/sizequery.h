#pragma once
#include <string>

// The package size query of a download: up to three ports, each asked
// "/as/wapi/get_client_size" until one answers with a size of 1 or more.
namespace SizeQuery {

// One request of the size query; sURL is the path buffer that the page
// request extends in place. False when no reply was obtained.
class Requester {
 public:
  virtual ~Requester() = default;
  virtual bool GetPage(int iPort, char* sURL, char* pReply, int iMaxLength, int* piUsedPort) = 0;
};

constexpr int kReplySize = 2048;

// Size in a reply: the number inside "<__ClientSize__>" ... "</__ClientSize__>"
// if the reply has that element, else the number at its start (white space
// skipped, optional sign, up to the first non-digit). 0 when there is none or
// it does not fit a 32-bit count.
int ParseClientSize(const char* sReply);

// Marks an attempt that is not made. Port 0 is a real attempt: a URL without
// a port, so the scheme's default.
constexpr int kNoAttempt = -1;

// Ports in the order they are tried after starting from iFirstPort.
int PortForAttempt(int iFirstPort, int iAttempt);  // kNoAttempt when there is no such attempt

// Runs the query against sServerName. *piAccountServerPort is the first port
// and is updated to each further port tried; *piUsedPort is the port the last
// successful request went through. Returns the size, or 0 after logging the
// failure.
int Query(Requester& requester, const char* sServerName, int* piAccountServerPort, int* piUsedPort);

}  // namespace SizeQuery

#pragma once
#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>

#include <vector>

#include "code/hlib/readpace.h"
#include "code/utility/net/rangeresume.h"
#include "code/utility/system/scopedhandle.h"

// The HTTP client through which every exchange with the account server goes.
// HR holds one request's machinery (WinInet requests through the learned or
// detected way through the user's network); HLib adds the page request with
// its two fallbacks: a plain WinInet request and the raw socket download.
// The code: hlib_request_win.cpp (one WinInet request and its reply),
// hlib_proxy_win.cpp (the ways through the network in their order, and the
// learned settings), hlib_detect_win.cpp (system proxy options, the
// auto-config script) and hlib_win.cpp (the page request and its layers).

// What HR::DP read of the system's proxy options for the default connection.
struct SystemProxyOptions {
  std::string sWPADLocation;  // auto-config script location
  bool bFlagsQueried = false;
  unsigned long iFlags = 0;   // PROXY_TYPE_* bits
  bool bHasByPass = false;
  std::string sByPass;
  bool bHasProxyServer = false;
  std::string sProxyServer;
};

class HR {
 public:
  // Largest single read of a reply body (see README: measured under Wine).
  static constexpr int kReadSize = 256 * 1024;
  static constexpr std::size_t kProxyListSize = 4096;
  static constexpr std::size_t kWPADLocationSize = 4096;
  static constexpr std::size_t kProxyEntrySize = 64;

  HR() = default;
  virtual ~HR() = default;
  HR(const HR&) = delete;
  HR& operator=(const HR&) = delete;

  // Set by the user before GetPage: read in chunks of at most m_iReadSize
  // until m_iExpectedReceiveSize bytes have arrived.
  bool m_bUseMinReadBuffer = false;
  int m_iReadSize = kReadSize;
  // Body bytes stored so far; another thread may read it while a call runs.
  std::atomic<int> m_iCurrentlyReceived{0};
  int m_iExpectedReceiveSize = 0;
  // WinInet handles left by the last DoRequest (closed by GetPage, or by the
  // next DoRequest). Declared root first, so that they close request first.
  ScopedInternet m_hInternet;
  ScopedInternet m_hConnect;
  ScopedInternet m_hRequest;
  // The current call's buffer (valid during one GetPage only).
  int m_iMaxLength = 0;
  const char* m_sKeyInReturn = nullptr;
  char* m_pReceiveBuffer = nullptr;

  // The first layer: stored setting, system settings, auto-config script,
  // automatic discovery, each attempt one DoRequest.
  bool SendRequest(const char* sURL, const char* sIP, int iPort, bool bSecure, const char* sVerb,
                   const char* sPostData);
  // One WinInet request through the connection method cPType ('D' direct,
  // 'L' system configuration, other letters the proxy sPAddress).
  bool DoRequest(const char* sURL, const char* sIP, int iPort, bool bSecure, const char* sVerb, char cPType,
                 const char* sByPass, const char* sPAddress, const char* sPostData);
  // Remembers a method that worked for this host and port.
  void AddCache(const char* sIP, int iPort, bool bSecure, char cPType, const char* sByPass, const char* sPAddress);
  // Reads the system proxy options; false when the query fails with an error
  // that ends the request (12178, 6).
  bool DP(SystemProxyOptions& options);
  // Evaluates the auto-config script at sWPADLocation (kWPADLocationSize
  // bytes; empty: discover it) for the URL; sProxyList (kProxyListSize bytes)
  // receives the script's answer or the empty text.
  void Detect(const char* sURL, const char* sIP, int iPort, char* sWPADLocation, char* sProxyList);

  virtual bool SetOptionR(const char* sURL, const char* sIP, int iPort, bool bSecure, const char* sVerb,
                          const char* sByPass, const char* sProxyServer, const char* sPostData) = 0;
  virtual bool SetOptionA(const char* sURL, const char* sIP, int iPort, bool bSecure, const char* sVerb,
                          const char* sProxyList, const char* sPostData) = 0;

 protected:
  // Reads the reply of hRequest into m_pReceiveBuffer (chunked or as text,
  // never past m_iMaxLength). The log texts differ between the layers: a
  // chunk that fails is logged under sChunkFunction, a text read that fails
  // under sFunction as sFailPrefix followed by the error.
  bool ReadReply(void* hRequest, const char* sFunction, const char* sChunkFunction, const char* sFailPrefix);
  bool HasKeyword() const;
  void CloseHandles();
  // A download to a file whose body broke after bytes of a reply that can be
  // resumed: the other ways and layers are not tried (the next attempt
  // asks for the rest).
  bool TransferBroken();
  // The Range and If-Range lines of the next request of a download to a
  // file (empty for the whole body); sets m_iAskedFrom.
  std::string RangeLinesForSink();

  // Set during GetFile: where the body goes, and the offset the last request
  // asked for (0: the whole body).
  RangeResume::ReplySink* m_pSink = nullptr;
  long long m_iAskedFrom = 0;
  // Reused for every read of a download to a file.
  std::vector<char> m_aReadBuffer;
  // Sizes the reads of the body being read (started again for each reply).
  ReadPace m_oReadPace{kReadSize};

  std::mutex m_csRequest;

 private:
  // The strategies of SendRequest in their order (hlib_proxy_win.cpp).
  bool SendRequestLocked(const char* sURL, const char* sIP, int iPort, bool bSecure, const char* sVerb,
                         const char* sPostData);
  // The setting learned for this host and port, if any; one that fails is
  // dropped from the store.
  bool TryStoredSetting(const char* sURL, const char* sIP, int iPort, bool bSecure, const char* sVerb,
                        const char* sPostData, const std::string& sLogURL);
  // The system's settings, then the auto-config script at the configured
  // location, then a discovered one.
  bool TrySystemSettings(const char* sURL, const char* sIP, int iPort, bool bSecure, const char* sVerb,
                         const char* sPostData);
  // Evaluates the script at sWPADLocation and tries its answer; sStep names
  // the step in the log ("auto URL", "auto detect").
  bool TryScript(const char* sURL, const char* sIP, int iPort, bool bSecure, const char* sVerb,
                 const char* sPostData, char* sWPADLocation, const char* sStep);

  // The steps of one DoRequest (hlib_request_win.cpp): a session of the
  // connection method, the connection and request handles, the send
  // (repeated while the user answers a credentials dialog with "retry"),
  // and the reply.
  bool DoRequestSteps(const char* sURL, const char* sIP, int iPort, bool bSecure, const char* sVerb, char cPType,
                      const char* sByPass, const char* sPAddress, const char* sPostData);
  bool OpenSession(char cPType, const char* sByPass, const char* sPAddress);
  bool OpenRequest(const char* sURL, const char* sIP, int iPort, bool bSecure, const char* sVerb);
  bool SendWithCredentials(const char* sIP, int iPort, const char* sVerb, const char* sPostData);
  // One send; *piStatus receives the HTTP status (false also for none).
  bool SendOnce(const char* sIP, int iPort, const char* sVerb, const char* sPostData, unsigned long* piStatus);
  bool ReadCheckedReply();
  bool ReadChunks(void* hRequest, const char* sChunkFunction);
  bool ReadToEnd(void* hRequest, const char* sFunction, const char* sFailPrefix);
  // The body of a download to a file (GetFile): through m_pSink.
  bool ReadToSink(void* hRequest, const char* sChunkFunction);
  // One read of a body into pInto (ReadPace sizes it); the bytes
  // read, 0 when the reply ended or failed (logged under sChunkFunction).
  int ReadBlock(void* hRequest, char* pInto, int iRemaining, const char* sChunkFunction);

  // The script evaluation of Detect (hlib_detect_win.cpp).
  void DetectSteps(const char* sURL, const char* sIP, int iPort, char* sWPADLocation, char* sProxyList);
};

class HLib : public HR {
 public:
  // Fetches sURL (a path with its query) from sIP:iPort into pBuffer
  // (iMaxLength bytes, zero-filled first). The random request parameter is
  // appended to sURL in place: sURL must have room for 54 more characters and
  // the terminator (or give its size in iURLSize). *piPort receives the port
  // finally used (80 when a 443 request went through the socket download).
  // A text reply (no expected size) stays zero-terminated within the buffer.
  bool GetPage(const char* sIP, int iPort, char* sURL, int iMaxLength, const char* sKeyInReturn, char* pBuffer,
               int* piPort, std::size_t iURLSize = 0);

  // Downloads sURL (m_iExpectedReceiveSize bytes) through the same layers
  // as GetPage, writing the body through sink; a request made while the
  // sink holds part of the body asks for the rest with a range.
  bool GetFile(const char* sIP, int iPort, char* sURL, RangeResume::ReplySink& sink, int* piPort,
               std::size_t iURLSize = 0);

  bool SetOptionR(const char* sURL, const char* sIP, int iPort, bool bSecure, const char* sVerb,
                  const char* sByPass, const char* sProxyServer, const char* sPostData) override;
  bool SetOptionA(const char* sURL, const char* sIP, int iPort, bool bSecure, const char* sVerb,
                  const char* sProxyList, const char* sPostData) override;

 private:
  bool PlainRequest(const char* sURL, const char* sIP, int iPort);
  bool SocketRequest(const char* sURL, const char* sIP, int iPort, const std::string& sLogURL, int* piPort);
};

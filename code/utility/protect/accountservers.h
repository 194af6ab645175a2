#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Which account servers a link or a settings file may name
// (QV_ACCOUNT_SERVERS). Entries, separated by commas, semicolons or white
// space:
//   conference.example.com   exactly this host name
//   .example.com             example.com and every name under it
//   192.0.2.10               exactly this IPv4 address (dotted decimal)
// Names compare without regard to ASCII case and without one trailing dot;
// a domain entry matches only at a dot boundary (".example.com" does not
// admit "badexample.com"). A host that is not a plain host name or a
// dotted-decimal address (a port, an IPv6 form, "127.1", a blank, an
// empty label) matches nothing.
namespace AccountServers {

constexpr std::size_t kMaxEntries = 16;
constexpr std::size_t kMaxNameLength = 253;  // without the trailing dot
constexpr std::size_t kMaxLabelLength = 63;

struct Entry {
  enum class Kind { kHost, kDomain, kAddress };
  Kind eKind = Kind::kHost;
  char sName[kMaxNameLength + 1] = {};  // lower case, no leading or trailing dot
  std::uint8_t aAddress[4] = {};
};

struct List {
  Entry aEntries[kMaxEntries];
  std::size_t iCount = 0;
};

// False (with the reason) on an entry of none of the three forms or on
// more than kMaxEntries entries. An empty text gives an empty list.
bool ParseList(const char* sText, List* pList, std::string* pError);

// Whether the host matches one of the entries; an empty list admits nothing.
bool Matches(const List& list, const char* sHost);

enum class Decision {
  kUnrestricted,  // the build lists no servers: every server is allowed
  kAllowed,
  kRefused,
  kBadSetting,    // the build's list cannot be read: nothing is allowed
};
// The check the starter makes for one host against the build's setting.
Decision Check(const char* sSetting, const char* sHost);

}  // namespace AccountServers

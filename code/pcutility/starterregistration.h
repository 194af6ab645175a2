#pragma once
#include <cstddef>
#include <string>

namespace PCUtility {

// Registry texts that make the starter the handler of the client's URL
// protocol for one user.
struct StarterRegistration {
  std::string sKey;                  // Software\Classes\<client>
  std::string sURL;                  // its default value, "URL:<client> Starter"
  std::string sCommandKey;           // <sKey>\shell\open\command
  std::string sCommand;              // "<starter path>" %1
  std::string sProtocolExecuteKey;   // the browser's per-protocol settings key
};

// Registry texts are at most this many bytes (terminator excluded).
constexpr std::size_t kMaxRegistryText = 511;

// True for a client name made only of ASCII letters and digits. Only such a
// name becomes a protocol key: the name comes from the file name, and
// anything else could name a file extension, a class with a dot in it or a
// path under Software\Classes.
bool IsPlainClientName(const std::string& sClientName);

// What an existing key of the protocol's name holds, and whether the
// registration may replace it.
enum class ExistingClass {
  kNone,           // no such key: register
  kStarter,        // a URL protocol a starter registered: register again
  kOtherProtocol,  // another program's URL protocol (http, mailto, ...): leave it
  kNotProtocol,    // a file type or program class, or unreadable: leave it
};

// Judges an existing key by its "URL Protocol" value and its default value
// (the description a starter writes, "URL:<client> Starter", compared
// without regard to ASCII case as the registry compares key names).
ExistingClass JudgeExistingClass(bool bHasUrlProtocol, const std::string& sDescription,
                                 const std::string& sClientName);

// Builds the texts. Refuses (false, logged, nothing built) an empty client
// name, which would register over the whole Software\Classes key, a name
// that is not plain, and any text longer than kMaxRegistryText.
bool BuildStarterRegistration(const char* sStarterFile, const char* sClientName, StarterRegistration& oRegistration);

}  // namespace PCUtility

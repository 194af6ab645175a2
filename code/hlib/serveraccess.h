#pragma once
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>

// The learned server access settings: one line per server host and port that
// says how it was last reached ("host\tport\tY|N\ttype\tbypass\tproxy"), lines
// joined by "\n". The text is kept in the configuration cache between runs.
namespace ServerAccess {

constexpr std::size_t kStoreSize = 4096;      // the whole text, terminator included
constexpr std::size_t kHeadroom = 128;        // kept free below kStoreSize
constexpr std::size_t kMaxFieldLength = 512;  // bypass list, proxy address
constexpr const char kStartTag[] = "<__SERVER_ACCESS_SETTING1__>";
constexpr const char kEndTag[] = "</__SERVER_ACCESS_SETTING1__>";

// Gives the dotted address of a host; asked at most once per operation and
// only when there is a line to compare with.
using Resolver = std::function<bool(const char* sHost, std::string& sIP)>;

struct Setting {
  int iIndex = -1;      // line number in the store
  std::string sLine;    // the line as stored
  char cPType = 0;
  std::string sByPass;  // "NULL" in the store reads as empty
  std::string sPAddress;
};

// "%s\t%d\t%s\t%c\t%s\t%s" with "Y"/"N" for bSecure.
std::string BuildRecord(const char* sIP, int iPort, bool bSecure, char cPType, const char* sByPass,
                        const char* sPAddress);

// First line with six fields or more whose host is sIP (or its resolved
// address) and whose port is iPort. The secure field is not compared.
bool Find(const std::string& sStore, const char* sIP, int iPort, const Resolver& fnResolve,
          Setting& setting);

// Removes every line equal to sLine; false when there was none.
bool RemoveLine(std::string& sStore, const std::string& sLine);

enum class AddResult { kAdded, kReplaced, kPresent, kRefused };

// Remembers a method that worked, replacing the line of the same host and
// port. Settings with line breaks or tabs in a field, or that would not fit,
// are refused and logged under "HR::AddCache".
AddResult Add(std::string& sStore, const char* sIP, int iPort, bool bSecure, char cPType,
              const char* sByPass, const char* sPAddress, const Resolver& fnResolve);

// The process-wide store, shared by every HLib object. Hold the mutex for
// each use of the text.
struct Shared {
  std::mutex mutex;
  std::string sText;
  bool bLoaded = false;
};
Shared& GetShared();

}  // namespace ServerAccess

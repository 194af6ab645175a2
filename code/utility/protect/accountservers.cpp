#include "code/utility/protect/accountservers.h"

#include <cstring>

#include "code/utility/text/asciitext.h"

namespace AccountServers {
namespace {

constexpr char kSeparators[] = ", ;\t\r\n";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Dotted decimal with exactly four parts, no leading zeros, each 0..255.
// Other spellings that Windows would also take ("127.1", "0x7f.0.0.1",
// "010.0.0.1") are refused, so one address has one spelling.
bool ParseAddress(const char* p, std::size_t n, std::uint8_t aOut[4]) {
  std::size_t i = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (i >= n || p[i] != '.') return false;
      ++i;
    }
    const std::size_t iStart = i;
    unsigned v = 0;
    while (i < n && IsDigit(p[i]) && i - iStart < 3) v = v * 10 + static_cast<unsigned>(p[i++] - '0');
    const std::size_t iDigits = i - iStart;
    if (iDigits == 0 || (iDigits > 1 && p[iStart] == '0') || v > 255) return false;
    aOut[part] = static_cast<std::uint8_t>(v);
  }
  return i == n;
}

// A host name of letters, digits and hyphens in dot-separated labels of
// 1..63 characters, no label starting or ending with a hyphen, the last
// label not all digits; one trailing dot allowed. Written lower case to
// sOut (kMaxNameLength + 1 bytes).
bool NormaliseName(const char* p, std::size_t n, char* sOut) {
  if (n > 0 && p[n - 1] == '.') --n;
  if (n == 0 || n > kMaxNameLength) return false;
  std::size_t iLabel = 0;
  bool bAllDigits = true;
  for (std::size_t i = 0; i <= n; ++i) {
    if (i == n || p[i] == '.') {
      if (iLabel == 0 || iLabel > kMaxLabelLength || p[i - 1] == '-' || p[i - iLabel] == '-') return false;
      if (i < n) {
        iLabel = 0;
        bAllDigits = true;
        sOut[i] = '.';
      }
      continue;
    }
    const char c = Utility::ToLowerASCII(p[i]);
    if (!((c >= 'a' && c <= 'z') || IsDigit(c) || c == '-')) return false;
    if (!IsDigit(c)) bAllDigits = false;
    sOut[i] = c;
    ++iLabel;
  }
  if (bAllDigits) return false;
  sOut[n] = '\0';
  return true;
}

bool ParseEntry(const char* p, std::size_t n, Entry* pEntry) {
  if (n > 0 && p[0] == '.') {
    pEntry->eKind = Entry::Kind::kDomain;
    return NormaliseName(p + 1, n - 1, pEntry->sName);
  }
  if (ParseAddress(p, n, pEntry->aAddress)) {
    pEntry->eKind = Entry::Kind::kAddress;
    return true;
  }
  pEntry->eKind = Entry::Kind::kHost;
  return NormaliseName(p, n, pEntry->sName);
}

}  // namespace

bool ParseList(const char* sText, List* pList, std::string* pError) {
  pList->iCount = 0;
  const char* p = sText ? sText : "";
  const std::size_t n = std::strlen(p);
  std::size_t i = 0;
  while (true) {
    while (i < n && std::strchr(kSeparators, p[i])) ++i;
    if (i == n) break;
    const std::size_t iStart = i;
    while (i < n && !std::strchr(kSeparators, p[i])) ++i;
    const std::string sToken(p + iStart, i - iStart);
    if (pList->iCount == kMaxEntries) {
      if (pError) *pError = "more than " + std::to_string(kMaxEntries) + " account servers";
      return false;
    }
    Entry entry;
    if (!ParseEntry(p + iStart, i - iStart, &entry)) {
      if (pError) {
        *pError = "not a host name, .domain or IPv4 address: \"" + sToken.substr(0, kMaxNameLength + 2) + "\"";
        if (sToken.find('/') != std::string::npos)
          *pError += " (write the host name alone, without a scheme or a path)";
        else if (sToken.find(':') != std::string::npos)
          *pError += " (IPv6 addresses and ports are not supported)";
        if (sToken.compare(0, 2, "*.") == 0) *pError += " (write .domain for a domain and every name under it)";
      }
      return false;
    }
    pList->aEntries[pList->iCount++] = entry;
  }
  return true;
}

bool Matches(const List& list, const char* sHost) {
  if (!sHost) return false;
  const std::size_t n = std::strlen(sHost);
  std::uint8_t aAddress[4];
  const bool bAddress = ParseAddress(sHost, n, aAddress);
  char sName[kMaxNameLength + 1];
  const bool bName = !bAddress && NormaliseName(sHost, n, sName);
  const std::size_t iName = bName ? std::strlen(sName) : 0;
  for (std::size_t k = 0; k < list.iCount && k < kMaxEntries; ++k) {
    const Entry& e = list.aEntries[k];
    switch (e.eKind) {
      case Entry::Kind::kAddress:
        if (bAddress && std::memcmp(aAddress, e.aAddress, 4) == 0) return true;
        break;
      case Entry::Kind::kHost:
        if (bName && std::strcmp(sName, e.sName) == 0) return true;
        break;
      case Entry::Kind::kDomain: {
        if (!bName) break;
        const std::size_t iDomain = std::strlen(e.sName);
        if (iName == iDomain && std::strcmp(sName, e.sName) == 0) return true;
        if (iName > iDomain && sName[iName - iDomain - 1] == '.' &&
            std::strcmp(sName + iName - iDomain, e.sName) == 0)
          return true;
        break;
      }
    }
  }
  return false;
}

Decision Check(const char* sSetting, const char* sHost) {
  List list;
  if (!ParseList(sSetting, &list, nullptr)) return Decision::kBadSetting;
  if (list.iCount == 0) return Decision::kUnrestricted;
  return Matches(list, sHost) ? Decision::kAllowed : Decision::kRefused;
}

}  // namespace AccountServers

#pragma once
#include <windows.h>

#include <cstddef>

// Writes keys and values under a registry root. Key, value name and value are
// UTF-8 texts of at most kRegistryText - 1 bytes; a longer text is refused
// (and logged) rather than cut, so nothing half-named is ever written.
class RegistryHandler {
 public:
  static constexpr std::size_t kRegistryText = 512;

  // Creates the key, or opens it when it exists, and closes it again.
  bool AddRegistryKey(HKEY hRoot, const char* sKey);
  // Writes one value into an existing key; an empty name is the key's
  // default value. REG_DWORD takes sValue as decimal text (non-numeric: 0);
  // REG_SZ and REG_EXPAND_SZ are written as UTF-16 with the terminator.
  bool AddRegistryValue(HKEY hRoot, const char* sKey, const char* sName, const char* sValue, DWORD iType);
};

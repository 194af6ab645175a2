#pragma once
#include <cstddef>

// Single elements of the status file the starter shares with the installed
// client. Stateless: create one where needed.
class StatusFileHandler {
 public:
  static constexpr std::size_t kValueSize = 512;

  // Value of one element. A missing file counts as the default content and
  // is created with it.
  bool ReadStatus(int iStatusFileType, const char* sFolder, const char* sStartTag, const char* sEndTag,
                  char* sValue, std::size_t iValueSize = kValueSize);
  // Rewrites one element's value; every other byte of the file stays. An
  // element the file lacks is never added.
  bool WriteStatus(int iStatusFileType, const char* sFolder, const char* sStartTag, const char* sEndTag,
                   const char* sValue);
};

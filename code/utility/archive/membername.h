#pragma once
#include <cstddef>
#include <string>

// The rules a member name of a package archive (see archive.h) must follow
// before anything is written under it: it stays inside the destination and
// names an ordinary file there on Windows.
namespace PackageArchive {

constexpr std::size_t kMaxTargetChars = 260;     // UTF-16 units of a usable path, terminator included
constexpr char kTempSuffix[] = ".qvpart";        // a member is written here first

enum class NameVerdict {
  kOk,
  kEmpty,          // empty name, or an empty segment ("a\\\\b", trailing separator)
  kTraversal,      // a segment of only dots and blanks ("..", ".", "... ")
  kAbsolute,       // starts with a separator (root or UNC)
  kColon,          // drive letters and alternate data streams
  kBadCharacter,   // control characters and < > " | ? *
  kDeviceName,     // CON, NUL, COM1, LPT1, ... as a segment
  kReserved,       // ends with kTempSuffix (the unpacking's own temporary names), or the
                   // package signature's name anywhere but first (see Extract)
  kNotUtf8,
  kTooLong,       // the target path (or its temporary name) is no usable Windows path
};

// Whether a member name stays inside the destination; both "\\" and "/"
// count as separators.
NameVerdict CheckMemberName(const std::string& sName);
const char* DescribeVerdict(NameVerdict v);

// destination + "\\" (unless it ends with one) + name with "/" as "\\".
std::string TargetPath(const std::string& sDestination, const std::string& sName);

}  // namespace PackageArchive

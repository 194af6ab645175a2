#pragma once
#include <cstddef>
#include <string>

namespace Utility {
// Copies the whole text with its terminator into a buffer of iCapacity bytes.
// A text that does not fit leaves the buffer untouched and gives false.
bool CopyIfFits(char* sTarget, std::size_t iCapacity, const char* sSource);
bool CopyIfFits(char* sTarget, std::size_t iCapacity, const std::string& sSource);
// Copies as much as fits (cut at iCapacity - 1 bytes); true when nothing was cut.
bool CopyCut(char* sTarget, std::size_t iCapacity, const std::string& sSource);
}  // namespace Utility

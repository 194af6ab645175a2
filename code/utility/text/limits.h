#pragma once
#include <cstddef>

// Sizes of the fixed text buffers used across the starter. Every copy into
// one of them is bounded by these, terminator included.
namespace Limits {
constexpr std::size_t kPath = 512;          // a path or a single value
constexpr std::size_t kValue = 512;
constexpr std::size_t kCommandLine = 4096;  // a command line
constexpr std::size_t kSetting = 4096;      // a settings text
constexpr std::size_t kSettingCopy = 8192;  // the handler's own settings copy
}  // namespace Limits

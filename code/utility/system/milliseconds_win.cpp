#include "code/utility/system/milliseconds.h"

#include <windows.h>

#include <cstdint>

namespace Utility {
int GetMilliseconds() {
  static const std::int64_t iFrequency = [] {
    LARGE_INTEGER f;
    return QueryPerformanceFrequency(&f) && f.QuadPart > 0 ? f.QuadPart : 1000;
  }();
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  // Split the product so that a long uptime cannot overflow it.
  const std::int64_t iMs = (c.QuadPart / iFrequency) * 1000 + (c.QuadPart % iFrequency) * 1000 / iFrequency;
  return static_cast<int>(static_cast<std::uint32_t>(iMs));
}
}  // namespace Utility

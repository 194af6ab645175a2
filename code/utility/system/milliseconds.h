#pragma once

namespace Utility {
// Milliseconds from the high-resolution performance counter (counter x 1000
// / frequency, the frequency read once). A 32-bit count: callers take
// differences, which survive its wrap.
int GetMilliseconds();
}  // namespace Utility

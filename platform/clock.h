// Wall-clock seconds for timestamps and time-made names. On Linux this is
// the platform clock, so a test can place an entry at any instant.
#pragma once

#include <ctime>

#ifdef _WIN32
namespace platform {
inline time_t Now() { return time(nullptr); }
}  // namespace platform
#else
#include "sim/sim.h"
namespace platform {
inline time_t Now() { return sim::WallTime(); }
}  // namespace platform
#endif

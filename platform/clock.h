// Wall-clock seconds for timestamps and time-made names. On Linux this is
// the platform clock, so a test can place an entry at any instant; on
// Windows it is time(nullptr).
#pragma once

#include <ctime>

namespace platform {
time_t Now();
}  // namespace platform

// platform::Now on Windows: the system clock.
#include "platform/clock.h"

namespace platform {
time_t Now() { return time(nullptr); }
}  // namespace platform

// platform::Now on Linux: the virtual (or real-time) platform clock.
#include "platform/clock.h"

#include "sim.h"

namespace platform {
time_t Now() { return sim::WallTime(); }
}  // namespace platform

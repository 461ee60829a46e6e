// The platform the control is written against: the Win32 headers. On
// Windows they are the real ones; on Linux the build puts our subset of them
// (platform/sim/win32) on the include path instead.
#pragma once

#include <windows.h>
#include <mmsystem.h>
#include <tapi.h>

#include "platform/clock.h"

// The platform the control is written against: the real Windows headers on
// Windows, our own subset of them on Linux.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <mmsystem.h>
#include <tapi.h>
#else
#include "sim/win_types.h"
#include "sim/win_user.h"
#include "sim/win_nls.h"
#include "sim/win_library.h"
#include "sim/win_gdi.h"
#include "sim/win_kernel.h"
#include "sim/win_comm.h"
#include "sim/mmsystem.h"
#include "sim/tapi.h"
#endif

#include "clock.h"

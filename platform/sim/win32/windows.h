// The Linux subset of <windows.h>: the build puts this folder on the include
// path where Windows has its own headers.
#pragma once

#include "win_types.h"
#include "win_user.h"
#include "win_nls.h"
#include "win_library.h"
#include "win_gdi.h"
#include "win_kernel.h"
#include "win_comm.h"

// Run-time library loading for the Linux build: "NAME.DLL" maps to the
// shared object "libname.so", looked up in MARLUNE_DLL_PATH, then beside
// the running program, then by the normal dynamic-loader search.
#pragma once

#include <string>

#include "win_types.h"

extern "C" {
HMODULE WINAPI LoadLibraryA(LPCSTR name);
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name);
BOOL WINAPI FreeLibrary(HMODULE module);
}
#define LoadLibrary LoadLibraryA

namespace sim {
// Failure injection: a hidden library does not load; a hidden export is
// not found. Names are compared without regard to case.
void HideLibrary(const std::string& dllName, bool hidden = true);
void HideExport(const std::string& dllName, const std::string& exportName, bool hidden = true);
// How many times LoadLibraryA was asked for the library (loaded or not).
int LoadAttempts(const std::string& dllName);
// The shared object a DLL name maps to, e.g. "TAPI32.DLL" -> "libtapi32.so".
std::string SharedObjectName(const std::string& dllName);
// Loads `soName` whenever `dllName` is asked for (empty: the usual name).
// MARLUNE_DLL_MAP="TAPI32.DLL=libtapi32_at.so[:...]" does the same for any
// program.
void MapLibrary(const std::string& dllName, const std::string& soName);
// The running program carries `dllName` in itself: asking for it gives the
// program (its exports found among the program's own symbols) unless a
// mapping names a shared object for it. Kept across sim::Reset.
void ProvideLibrary(const std::string& dllName, bool provided = true);
}  // namespace sim

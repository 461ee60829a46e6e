// The part of the Linux platform layer's control surface that the virtual
// voice modem uses, for its Windows build (the stand-in TAPI32.DLL under
// Wine): scheduled work runs from the message loop of the thread that
// scheduled it, on a window timer.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

namespace sim {

using Micros = int64_t;
constexpr Micros kSecond = 1000000;
constexpr Micros kMilli = 1000;

uint64_t ScheduleAfter(Micros delay, std::function<void()> fn);
// No platform reset under Wine: the hook is kept and never called.
void AddResetHook(std::function<void()> hook);
// The real loader cannot hide exports: these answer nothing.
void HideLibrary(const std::string& dllName, bool hidden = true);
void HideExport(const std::string& dllName, const std::string& exportName, bool hidden = true);

}  // namespace sim

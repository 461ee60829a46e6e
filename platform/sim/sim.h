// Control surface of the Linux platform layer: the clock, the message loop
// that delivers everything due, scheduled device work, message-box policy
// and the records a test or host reads back. Nothing in the control calls
// this; hosts, tests and the virtual peers do.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "win32/win_types.h"
#include "win32/win_user.h"

namespace sim {

// Microseconds since the clock's start.
using Micros = int64_t;
constexpr Micros kSecond = 1000000;
constexpr Micros kMilli = 1000;

// ---- clock -------------------------------------------------------------
// Virtual by default: time stands still while work is done and jumps to the
// next due timer or device deadline when the queue is idle. In real-time
// mode the same loop waits on the wall clock instead.
Micros Now();
void SetRealTime(bool realTime);
bool RealTime();
// Wall-clock seconds (time_t) at clock start; WallTime() = epoch + Now().
void SetEpoch(time_t epoch);
time_t WallTime();

// ---- scheduled work ----------------------------------------------------
// Runs fn on the loop thread at the given clock time (not before any
// message already queued). Returns an id for Cancel.
uint64_t Schedule(Micros at, std::function<void()> fn);
uint64_t ScheduleAfter(Micros delay, std::function<void()> fn);
void Cancel(uint64_t id);

// ---- message loop ------------------------------------------------------
// Dispatches every queued message, every due window timer and every due
// piece of scheduled work, advancing the clock, until `duration` has passed.
void RunFor(Micros duration);
// Dispatches what is due now, without advancing the clock.
void RunPending();
// Runs until pred() holds (checked after every dispatched item) or `limit`
// has passed; returns pred().
bool RunUntil(const std::function<bool()>& pred, Micros limit);

// ---- outside work ------------------------------------------------------
// A thread outside the loop (a peer reading a device) registers a check
// that answers true while something it read or was given is on its way to
// the loop. The virtual clock does not advance while a check is busy; posts
// and scheduled work wake a loop waiting on the wall clock.
uint64_t AddOutsideWork(std::function<bool()> busy);
void RemoveOutsideWork(uint64_t id);
bool OutsideWorkPending();
bool OutsideWorkRegistered();
// Bytes written to a serial line and not yet taken and handed on by the
// reader at the far end, per direction `key`; the clock waits for them.
// Only watched directions count: both ends in this process (a simulated
// device watches its own); a real device's are never waited for.
void SerialWatch(uint64_t key);
void SerialSent(uint64_t key, size_t n);
void SerialTaken(uint64_t key, size_t n);
void SerialForget(uint64_t key);
int64_t SerialInTransit(uint64_t key);
// The direction key of a serial device (its st_rdev): toward the modem or
// from it.
inline uint64_t SerialKey(uint64_t rdev, bool towardModem) { return rdev * 2 + (towardModem ? 1 : 0); }
void WakeLoop();
uint64_t WakeGeneration();
// Waits until WakeLoop() is called after `seen` was read, or `maxWait`.
void WaitForWake(uint64_t seen, Micros maxWait);

// ---- message boxes -----------------------------------------------------
struct MessageBoxRecord {
    HWND owner;
    std::string text;     // raw bytes as passed to MessageBoxA
    std::string caption;  // raw bytes
    UINT type;
    int answer;
    Micros at;
};
// The answer a box gets (IDOK by default). The observer sees every box
// with the answer it got, before MessageBoxA returns.
void SetMessageBoxPolicy(std::function<int(const MessageBoxRecord&)> policy);
void SetMessageBoxObserver(std::function<void(const MessageBoxRecord&)> observer);
const std::vector<MessageBoxRecord>& MessageBoxes();

// ---- debugger output ---------------------------------------------------
// Every OutputDebugStringA text, in order; the observer sees each as it is
// written.
const std::vector<std::string>& DebugOutput();
void SetDebugOutputObserver(std::function<void(const std::string&)> observer);

// ---- windows -----------------------------------------------------------
// Number of live windows (for leak checks in tests).
size_t WindowCount();
struct WindowInfo {
    std::string className;
    std::string text;
    DWORD style = 0;
    HWND parent = nullptr;
    UINT_PTR childId = 0;
    RECT rect{};
};
// What a live window was created with; false when there is no such window.
bool GetWindowInfo(HWND hwnd, WindowInfo* info);
// Live children of a window, in creation order.
std::vector<HWND> ChildWindows(HWND parent);
// Whether a window timer with this id runs on the window.
bool TimerRunning(HWND hwnd, UINT_PTR id);

// Resets every piece of platform state: windows, queues, timers, scheduled
// work, clock (back to virtual, at 0), boxes, debug output, and every
// registered reset hook (the multimedia devices, the library table).
void Reset();
// Lets other parts of the platform layer join Reset().
void AddResetHook(std::function<void()> hook);

// A Windows file name as this system opens it: "\\" separates folders, as
// "/" does (the control builds names such as "wav\\ni3.wav").
std::string NativePath(const char* name);

}  // namespace sim

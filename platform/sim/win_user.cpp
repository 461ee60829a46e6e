// Windows, the message queue, window timers, scheduled work and the clock
// of the Linux platform layer. One loop thread is assumed (the host's UI
// thread); the queue is still locked so that a peer may post from elsewhere.
#include "win32/win_user.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "sim.h"

namespace {

struct Window {
    std::string className;
    std::string name;
    WNDPROC proc = nullptr;
    HWND parent = nullptr;
    LONG_PTR userData = 0;
    DWORD style = 0;
    RECT rect{};
    HMENU id = nullptr;
    bool destroying = false;
};

struct Timer {
    HWND hwnd;
    UINT_PTR id;
    sim::Micros period;
    sim::Micros due;
    TIMERPROC proc;
};

struct Scheduled {
    sim::Micros at;
    uint64_t seq;
    std::function<void()> fn;
};

struct UserState {
    std::recursive_mutex lock;
    std::map<uintptr_t, Window> windows;
    uintptr_t nextWindow = 0x10010;
    std::map<std::string, WNDCLASSA> classes;
    std::map<std::string, std::string> classNames;  // keeps lpszClassName alive
    std::deque<MSG> queue;
    std::vector<Timer> timers;
    std::map<std::pair<sim::Micros, uint64_t>, std::function<void()>> scheduled;
    std::map<uint64_t, std::pair<sim::Micros, uint64_t>> scheduledById;
    uint64_t nextSeq = 1;
    sim::Micros now = 0;  // virtual time, or real-time base
    bool realTime = false;
    std::chrono::steady_clock::time_point realBase;
    time_t epoch = 0;
    bool epochSet = false;
    std::vector<sim::MessageBoxRecord> boxes;
    std::function<int(const sim::MessageBoxRecord&)> boxPolicy;
    std::function<void(const sim::MessageBoxRecord&)> boxObserver;
    std::vector<std::function<void()>> resetHooks;
    bool quit = false;
};

UserState& WindowSystem() {
    static UserState* s = new UserState();  // never destroyed: peers may post during exit
    return *s;
}

thread_local DWORD tLastError = 0;

Window* Find(HWND hwnd) {
    auto it = WindowSystem().windows.find(reinterpret_cast<uintptr_t>(hwnd));
    return it == WindowSystem().windows.end() ? nullptr : &it->second;
}

sim::Micros RealNow() {
    auto& s = WindowSystem();
    return s.now + std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - s.realBase)
                       .count();
}

// A post or scheduled work due before `t`, handed over by a thread outside
// the loop after the loop last looked (a reader posts, then says it is done).
bool ArrivedMeanwhile(sim::Micros t) {
    auto& s = WindowSystem();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    return !s.queue.empty() || (!s.scheduled.empty() && s.scheduled.begin()->first.first < t);
}

// Moves the clock to `t`; false when it did not get there because work
// from outside the loop is on its way (virtual clock) or a post woke the
// wait (real time): the caller dispatches and asks again. `dispatchFirst`:
// the caller dispatches every message, so one that arrived meanwhile is
// dispatched before the clock moves.
bool AdvanceTo(sim::Micros t, bool dispatchFirst = false) {
    auto& s = WindowSystem();
    uint64_t seen = sim::WakeGeneration();
    if (!s.realTime) {
        if (sim::OutsideWorkPending()) {
            sim::WaitForWake(seen, sim::kMilli);
            return false;
        }
        if (dispatchFirst && ArrivedMeanwhile(t)) return false;
        if (t > s.now) s.now = t;
        return true;
    }
    sim::Micros now = RealNow();
    if (t > now) sim::WaitForWake(seen, std::min<sim::Micros>(t - now, 3600 * sim::kSecond));
    return RealNow() >= t;
}

// Pops and dispatches one queued message; false when the queue is empty.
bool DispatchQueued() {
    MSG msg;
    {
        std::lock_guard<std::recursive_mutex> g(WindowSystem().lock);
        if (WindowSystem().queue.empty()) return false;
        msg = WindowSystem().queue.front();
        WindowSystem().queue.pop_front();
    }
    DispatchMessageA(&msg);
    return true;
}

// Runs one piece of scheduled work that is due; false when none is.
bool RunDueScheduled() {
    auto& s = WindowSystem();
    std::function<void()> fn;
    {
        std::lock_guard<std::recursive_mutex> g(s.lock);
        if (s.scheduled.empty()) return false;
        auto it = s.scheduled.begin();
        if (it->first.first > sim::Now()) return false;
        fn = std::move(it->second);
        s.scheduledById.erase(it->first.second);
        s.scheduled.erase(it);
    }
    fn();
    return true;
}

// Delivers WM_TIMER for the earliest due timer; false when none is due.
bool FireDueTimer() {
    auto& s = WindowSystem();
    sim::Micros now = sim::Now();
    Timer* best = nullptr;
    for (auto& t : s.timers)
        if (t.due <= now && (!best || t.due < best->due)) best = &t;
    if (!best) return false;
    best->due = now + best->period;
    MSG msg{best->hwnd, WM_TIMER, best->id, reinterpret_cast<LPARAM>(best->proc), GetTickCount(), {0, 0}};
    DispatchMessageA(&msg);
    return true;
}

bool DispatchOne() { return DispatchQueued() || RunDueScheduled() || FireDueTimer(); }

sim::Micros NextDeadline() {
    auto& s = WindowSystem();
    sim::Micros next = INT64_MAX;
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (!s.scheduled.empty()) next = s.scheduled.begin()->first.first;
    for (auto& t : s.timers) next = std::min(next, t.due);
    return next;
}

}  // namespace

namespace sim {

Micros Now() { return WindowSystem().realTime ? RealNow() : WindowSystem().now; }

bool RealTime() { return WindowSystem().realTime; }

void SetRealTime(bool realTime) {
    auto& s = WindowSystem();
    if (realTime == s.realTime) return;
    if (realTime) {
        s.realBase = std::chrono::steady_clock::now();
    } else {
        s.now = RealNow();
    }
    s.realTime = realTime;
}

void SetEpoch(time_t epoch) {
    WindowSystem().epoch = epoch - static_cast<time_t>(Now() / kSecond);
    WindowSystem().epochSet = true;
}

time_t WallTime() {
    auto& s = WindowSystem();
    if (!s.epochSet) {
        s.epoch = time(nullptr) - static_cast<time_t>(Now() / kSecond);
        s.epochSet = true;
    }
    return s.epoch + static_cast<time_t>(Now() / kSecond);
}

uint64_t Schedule(Micros at, std::function<void()> fn) {
    auto& s = WindowSystem();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    uint64_t seq = s.nextSeq++;
    s.scheduled.emplace(std::make_pair(at, seq), std::move(fn));
    s.scheduledById.emplace(seq, std::make_pair(at, seq));
    sim::WakeLoop();
    return seq;
}

uint64_t ScheduleAfter(Micros delay, std::function<void()> fn) { return Schedule(Now() + delay, std::move(fn)); }

void Cancel(uint64_t id) {
    auto& s = WindowSystem();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    auto it = s.scheduledById.find(id);
    if (it == s.scheduledById.end()) return;
    s.scheduled.erase(it->second);
    s.scheduledById.erase(it);
}

void RunPending() {
    for (;;) {
        while (DispatchOne()) {
        }
        // What a thread outside the loop is about to hand over is due now too.
        uint64_t seen = WakeGeneration();
        if (WindowSystem().realTime) return;
        if (!OutsideWorkPending()) {
            if (ArrivedMeanwhile(Now() + 1)) continue;  // handed over since the queue was last empty
            return;
        }
        WaitForWake(seen, kMilli);
    }
}

void RunFor(Micros duration) {
    Micros end = Now() + duration;
    for (;;) {
        if (DispatchOne()) continue;
        Micros next = NextDeadline();
        if (next > end) {
            if (!AdvanceTo(end, true)) continue;
            RunPending();
            return;
        }
        AdvanceTo(next, true);
    }
}

bool RunUntil(const std::function<bool()>& pred, Micros limit) {
    Micros end = Now() + limit;
    for (;;) {
        if (pred()) return true;
        if (DispatchOne()) continue;
        Micros next = NextDeadline();
        if (next > end) {
            if (!AdvanceTo(end, true)) continue;
            RunPending();
            return pred();
        }
        AdvanceTo(next, true);
    }
}

void SetMessageBoxPolicy(std::function<int(const MessageBoxRecord&)> policy) { WindowSystem().boxPolicy = std::move(policy); }
void SetMessageBoxObserver(std::function<void(const MessageBoxRecord&)> observer) {
    WindowSystem().boxObserver = std::move(observer);
}
const std::vector<MessageBoxRecord>& MessageBoxes() { return WindowSystem().boxes; }
size_t WindowCount() { return WindowSystem().windows.size(); }
bool GetWindowInfo(HWND hwnd, WindowInfo* info) {
    Window* w = Find(hwnd);
    if (!w) return false;
    if (info) {
        info->className = w->className;
        info->text = w->name;
        info->style = w->style;
        info->parent = w->parent;
        info->childId = reinterpret_cast<UINT_PTR>(w->id);
        info->rect = w->rect;
    }
    return true;
}

std::vector<HWND> ChildWindows(HWND parent) {
    std::vector<HWND> out;
    for (auto& [k, w] : WindowSystem().windows)
        if (w.parent == parent) out.push_back(reinterpret_cast<HWND>(k));
    return out;
}

bool TimerRunning(HWND hwnd, UINT_PTR id) {
    for (auto& t : WindowSystem().timers)
        if (t.hwnd == hwnd && t.id == id) return true;
    return false;
}

void AddResetHook(std::function<void()> hook) { WindowSystem().resetHooks.push_back(std::move(hook)); }

void Reset() {
    auto& s = WindowSystem();
    {
        std::lock_guard<std::recursive_mutex> g(s.lock);
        s.windows.clear();
        s.queue.clear();
        s.timers.clear();
        s.scheduled.clear();
        s.scheduledById.clear();
        s.now = 0;
        s.realTime = false;
        s.epoch = 0;
        s.epochSet = false;
        s.boxes.clear();
        s.boxPolicy = nullptr;
        s.boxObserver = nullptr;
        s.quit = false;
    }
    // A hook may register another (state made on first use during the
    // reset): the list can grow while it runs, so each hook is run from a
    // copy, by index, and the new ones run too.
    for (size_t i = 0; i < s.resetHooks.size(); ++i) {
        const std::function<void()> hook = s.resetHooks[i];
        hook();
    }
}

}  // namespace sim

extern "C" {

WORD WINAPI RegisterClassA(const WNDCLASSA* wc) {
    if (!wc || !wc->lpszClassName || !wc->lpfnWndProc) {
        tLastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    auto& s = WindowSystem();
    std::string name = wc->lpszClassName;
    s.classNames[name] = name;
    WNDCLASSA copy = *wc;
    copy.lpszClassName = s.classNames[name].c_str();
    s.classes[name] = copy;
    return static_cast<WORD>(s.classes.size());
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int width,
                            int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
    auto& s = WindowSystem();
    std::string cls = className ? className : "";
    auto ci = s.classes.find(cls);
    if (ci == s.classes.end()) {
        tLastError = 1407;  // ERROR_CANNOT_FIND_WND_CLASS
        return nullptr;
    }
    if (parent && parent != HWND_MESSAGE && !Find(parent)) {
        tLastError = 1400;  // ERROR_INVALID_WINDOW_HANDLE
        return nullptr;
    }
    uintptr_t key = s.nextWindow;
    s.nextWindow += 0x10;
    Window w;
    w.className = cls;
    w.name = windowName ? windowName : "";
    w.proc = ci->second.lpfnWndProc;
    w.parent = parent == HWND_MESSAGE ? nullptr : parent;
    w.style = style;
    w.rect = RECT{x, y, x + width, y + height};
    w.id = menu;
    s.windows[key] = w;
    HWND hwnd = reinterpret_cast<HWND>(key);
    CREATESTRUCTA cs{param, instance, menu, parent, height, width, y, x, static_cast<LONG>(style),
                     windowName, ci->second.lpszClassName, exStyle};
    LRESULT r = w.proc(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs));
    if (r == -1) {
        DestroyWindow(hwnd);
        return nullptr;
    }
    return hwnd;
}

BOOL WINAPI DestroyWindow(HWND hwnd) {
    auto& s = WindowSystem();
    Window* w = Find(hwnd);
    if (!w || w->destroying) return FALSE;
    w->destroying = true;
    WNDPROC proc = w->proc;
    proc(hwnd, WM_DESTROY, 0, 0);
    std::vector<HWND> children;
    for (auto& [k, c] : s.windows)
        if (c.parent == hwnd) children.push_back(reinterpret_cast<HWND>(k));
    for (HWND c : children) DestroyWindow(c);
    proc(hwnd, WM_NCDESTROY, 0, 0);
    {
        std::lock_guard<std::recursive_mutex> g(s.lock);
        s.timers.erase(std::remove_if(s.timers.begin(), s.timers.end(), [&](const Timer& t) { return t.hwnd == hwnd; }),
                       s.timers.end());
        s.queue.erase(std::remove_if(s.queue.begin(), s.queue.end(), [&](const MSG& m) { return m.hwnd == hwnd; }),
                      s.queue.end());
        s.windows.erase(reinterpret_cast<uintptr_t>(hwnd));
    }
    return TRUE;
}

BOOL WINAPI IsWindow(HWND hwnd) { return Find(hwnd) != nullptr; }

HWND WINAPI GetParent(HWND hwnd) {
    Window* w = Find(hwnd);
    return w ? w->parent : nullptr;
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value) {
    Window* w = Find(hwnd);
    if (!w) return 0;
    if (index == GWLP_USERDATA) {
        LONG_PTR old = w->userData;
        w->userData = value;
        return old;
    }
    if (index == GWLP_WNDPROC) {
        LONG_PTR old = reinterpret_cast<LONG_PTR>(w->proc);
        w->proc = reinterpret_cast<WNDPROC>(value);
        return old;
    }
    return 0;
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND hwnd, int index) {
    Window* w = Find(hwnd);
    if (!w) return 0;
    if (index == GWLP_USERDATA) return w->userData;
    if (index == GWLP_WNDPROC) return reinterpret_cast<LONG_PTR>(w->proc);
    return 0;
}

BOOL WINAPI GetClientRect(HWND hwnd, LPRECT rect) {
    Window* w = Find(hwnd);
    if (!w || !rect) return FALSE;
    *rect = RECT{0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top};
    return TRUE;
}

LRESULT WINAPI DefWindowProcA(HWND, UINT, WPARAM, LPARAM) { return 0; }

BOOL WINAPI PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto& s = WindowSystem();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    if (hwnd && !Find(hwnd)) {
        tLastError = 1400;
        return FALSE;
    }
    s.queue.push_back(MSG{hwnd, msg, wParam, lParam, GetTickCount(), {0, 0}});
    sim::WakeLoop();
    return TRUE;
}

LRESULT WINAPI SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Window* w = Find(hwnd);
    if (!w) return 0;
    return w->proc(hwnd, msg, wParam, lParam);
}

BOOL WINAPI PeekMessageA(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeMsg) {
    auto& s = WindowSystem();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    for (auto it = s.queue.begin(); it != s.queue.end(); ++it) {
        if (hwnd && it->hwnd != hwnd) continue;
        if ((filterMin || filterMax) && (it->message < filterMin || it->message > filterMax)) continue;
        *msg = *it;
        if (removeMsg & PM_REMOVE) s.queue.erase(it);
        return TRUE;
    }
    return FALSE;
}

BOOL WINAPI GetMessageA(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax) {
    for (;;) {
        if (PeekMessageA(msg, hwnd, filterMin, filterMax, PM_REMOVE)) return msg->message != WM_QUIT;
        if (RunDueScheduled()) continue;
        auto& s = WindowSystem();
        sim::Micros now = sim::Now();
        for (auto& t : s.timers) {
            if (t.due <= now && (!hwnd || t.hwnd == hwnd)) {
                t.due = now + t.period;
                *msg = MSG{t.hwnd, WM_TIMER, t.id, reinterpret_cast<LPARAM>(t.proc), GetTickCount(), {0, 0}};
                return TRUE;
            }
        }
        sim::Micros next = NextDeadline();
        if (next == INT64_MAX && !sim::OutsideWorkRegistered()) {
            // Nothing can ever arrive on a single loop thread.
            *msg = MSG{nullptr, WM_QUIT, 0, 0, GetTickCount(), {0, 0}};
            return FALSE;
        }
        if (next == INT64_MAX) {
            // Only a thread outside the loop can bring something.
            sim::WaitForWake(sim::WakeGeneration(), 10 * sim::kMilli);
            continue;
        }
        AdvanceTo(next);
    }
}

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
    if (!msg) return 0;
    if (msg->message == WM_TIMER && msg->lParam) {
        reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam, GetTickCount());
        return 0;
    }
    Window* w = Find(msg->hwnd);
    if (!w) return 0;
    return w->proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL WINAPI TranslateMessage(const MSG*) { return FALSE; }

void WINAPI PostQuitMessage(int exitCode) {
    auto& s = WindowSystem();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    s.queue.push_back(MSG{nullptr, WM_QUIT, static_cast<WPARAM>(exitCode), 0, GetTickCount(), {0, 0}});
}

UINT_PTR WINAPI SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc) {
    auto& s = WindowSystem();
    if (hwnd && !Find(hwnd)) {
        tLastError = 1400;
        return 0;
    }
    // Windows clamps periods below USER_TIMER_MINIMUM; 1 ms is the finest
    // step this clock models.
    sim::Micros period = std::max<sim::Micros>(1, elapse) * sim::kMilli;
    std::lock_guard<std::recursive_mutex> g(s.lock);
    for (auto& t : s.timers) {
        if (t.hwnd == hwnd && t.id == id) {
            t.period = period;
            t.due = sim::Now() + period;
            t.proc = proc;
            return id;
        }
    }
    s.timers.push_back(Timer{hwnd, id, period, sim::Now() + period, proc});
    return id;
}

BOOL WINAPI KillTimer(HWND hwnd, UINT_PTR id) {
    auto& s = WindowSystem();
    std::lock_guard<std::recursive_mutex> g(s.lock);
    auto it = std::find_if(s.timers.begin(), s.timers.end(),
                           [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
    if (it == s.timers.end()) return FALSE;
    s.timers.erase(it);
    return TRUE;
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    auto& s = WindowSystem();
    sim::MessageBoxRecord rec{owner, text ? text : "", caption ? caption : "", type, IDOK, sim::Now()};
    if (s.boxPolicy) rec.answer = s.boxPolicy(rec);
    if (s.boxObserver) s.boxObserver(rec);
    s.boxes.push_back(rec);
    return rec.answer;
}

DWORD WINAPI GetTickCount() { return static_cast<DWORD>(sim::Now() / sim::kMilli); }

void WINAPI Sleep(DWORD ms) { AdvanceTo(sim::Now() + static_cast<sim::Micros>(ms) * sim::kMilli); }

DWORD WINAPI GetLastError() { return tLastError; }
void WINAPI SetLastError(DWORD err) { tLastError = err; }

HMODULE WINAPI GetModuleHandleA(LPCSTR) { return reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x400000)); }

}  // extern "C"

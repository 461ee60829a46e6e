// A small check harness for the test programs that run under Wine (no
// GoogleTest for MinGW): CHECK and CHECK_EQ report the failing expression
// and count failures; main returns Failures().
#pragma once

#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <string>

inline int& FailureCount() {
    static int n = 0;
    return n;
}
inline int Failures() { return FailureCount() != 0; }

#define CHECK(cond)                                                                  \
    do {                                                                             \
        if (!(cond)) {                                                               \
            std::printf("%s:%d: CHECK failed: %s\n", __FILE__, __LINE__, #cond);     \
            ++FailureCount();                                                        \
        }                                                                            \
    } while (0)

#define CHECK_EQ(a, b)                                                                       \
    do {                                                                                     \
        auto va_ = (a);                                                                      \
        auto vb_ = (b);                                                                      \
        if (!(va_ == vb_)) {                                                                 \
            std::printf("%s:%d: CHECK_EQ failed: %s == %s (%s vs %s)\n", __FILE__, __LINE__, #a, #b, \
                        ToText(va_).c_str(), ToText(vb_).c_str());                           \
            ++FailureCount();                                                                \
        }                                                                                    \
    } while (0)

inline std::string ToText(long long v) {
    char b[64];
    std::snprintf(b, sizeof b, "%lld (0x%llx)", v, static_cast<unsigned long long>(v) & 0xffffffffull);
    return b;
}
inline std::string ToText(const std::string& s) { return "\"" + s + "\""; }
inline std::string ToText(const char* s) { return ToText(std::string(s ? s : "(null)")); }
inline std::string ToText(const std::wstring& w) {
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string s(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, &s[0], n, nullptr, nullptr);
    return "L\"" + s + "\"";
}
inline std::string ToText(const GUID& g) {
    wchar_t b[64];
    StringFromGUID2(g, b, 64);
    return ToText(std::wstring(b));
}
template <typename T>
std::string ToText(T* p) {
    char b[32];
    std::snprintf(b, sizeof b, "%p", static_cast<const void*>(p));
    return b;
}

// Ends every message box that appears in this process with OK, from a
// thread of its own, and counts them (the control's destruction notice is
// modal and waits for OK).
class BoxCloser {
public:
    BoxCloser() { thread_ = CreateThread(nullptr, 0, &Run, this, 0, nullptr); }
    ~BoxCloser() {
        InterlockedExchange(&stop_, 1);
        WaitForSingleObject(thread_, 5000);
        CloseHandle(thread_);
    }
    LONG Closed() const { return closed_; }
    // The caption of the last box closed, as the ANSI window text.
    std::string LastCaption() const { return caption_; }

private:
    static BOOL CALLBACK Visit(HWND hwnd, LPARAM self) {
        auto* closer = reinterpret_cast<BoxCloser*>(self);
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        char cls[32] = {};
        GetClassNameA(hwnd, cls, sizeof cls);
        if (pid == GetCurrentProcessId() && std::string(cls) == "#32770" && IsWindowVisible(hwnd) &&
            hwnd != closer->last_) {
            closer->last_ = hwnd;
            char text[256] = {};
            GetWindowTextA(hwnd, text, sizeof text);
            closer->caption_ = text;
            // Counted before the answer: the box's thread may read the count
            // as soon as the box ends.
            InterlockedIncrement(&closer->closed_);
            PostMessageA(hwnd, WM_COMMAND, IDOK, 0);
            Sleep(50);
        }
        return TRUE;
    }
    static DWORD WINAPI Run(LPVOID p) {
        auto* self = static_cast<BoxCloser*>(p);
        while (!self->stop_) {
            EnumWindows(&Visit, reinterpret_cast<LPARAM>(self));
            Sleep(20);
        }
        return 0;
    }
    HANDLE thread_ = nullptr;
    volatile LONG stop_ = 0;
    volatile LONG closed_ = 0;
    std::string caption_;
    HWND last_ = nullptr;
};

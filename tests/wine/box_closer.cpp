// Ends the message boxes of other processes under Wine (a script host
// cannot answer the control's modal destruction notice itself): every
// visible dialog-class window is answered with OK and its caption printed
// in hex. Exits 0 once COUNT boxes were closed, 1 after TIMEOUT seconds.
// Usage: box_closer.exe COUNT TIMEOUT
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <set>

namespace {

std::set<HWND> gClosed;

BOOL CALLBACK Visit(HWND hwnd, LPARAM) {
    char cls[32] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    if (lstrcmpA(cls, "#32770") != 0 || !IsWindowVisible(hwnd) || gClosed.count(hwnd)) return TRUE;
    char text[256] = {};
    int n = GetWindowTextA(hwnd, text, sizeof text);
    std::printf("box:");
    for (int i = 0; i < n; ++i) std::printf(" %02x", static_cast<unsigned char>(text[i]));
    std::printf("\n");
    std::fflush(stdout);
    PostMessageA(hwnd, WM_COMMAND, IDOK, 0);
    gClosed.insert(hwnd);
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    size_t count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1;
    DWORD timeout = (argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 60) * 1000;
    DWORD start = GetTickCount();
    while (gClosed.size() < count && GetTickCount() - start < timeout) {
        EnumWindows(&Visit, 0);
        Sleep(20);
    }
    return gClosed.size() >= count ? 0 : 1;
}

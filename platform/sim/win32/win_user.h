// Windows, message queues, window timers and message boxes for the Linux
// build: the subset of the windowing API the control and its peers call.
#pragma once

#include "win_types.h"

// Window messages
#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_SIZE 0x0005
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_NCDESTROY 0x0082
#define WM_TIMER 0x0113
#define WM_USER 0x0400
#define WM_APP 0x8000

// Window styles
#define WS_OVERLAPPED 0x00000000L
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_DISABLED 0x08000000L
#define WS_POPUP 0x80000000L
#define HWND_MESSAGE ((HWND)(LONG_PTR)-3)

#define GWLP_USERDATA (-21)
#define GWLP_WNDPROC (-4)

// Message boxes
#define MB_OK 0x00000000L
#define MB_OKCANCEL 0x00000001L
#define MB_YESNO 0x00000004L
#define MB_ICONERROR 0x00000010L
#define MB_ICONINFORMATION 0x00000040L
#define IDOK 1
#define IDCANCEL 2
#define IDYES 6
#define IDNO 7

#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001

typedef struct tagPOINT {
    LONG x;
    LONG y;
} POINT, *LPPOINT;

typedef struct tagRECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
} RECT, *LPRECT;
typedef const RECT* LPCRECT;

typedef struct tagMSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
} MSG, *LPMSG;

typedef struct tagCREATESTRUCTA {
    LPVOID lpCreateParams;
    HINSTANCE hInstance;
    HMENU hMenu;
    HWND hwndParent;
    int cy;
    int cx;
    int y;
    int x;
    LONG style;
    LPCSTR lpszName;
    LPCSTR lpszClass;
    DWORD dwExStyle;
} CREATESTRUCTA, *LPCREATESTRUCTA;

typedef struct tagWNDCLASSA {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    void* hCursor;
    HBRUSH hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
} WNDCLASSA;

typedef void(CALLBACK* TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);

extern "C" {
WORD WINAPI RegisterClassA(const WNDCLASSA* wc);
HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                            int width, int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param);
BOOL WINAPI DestroyWindow(HWND hwnd);
BOOL WINAPI IsWindow(HWND hwnd);
HWND WINAPI GetParent(HWND hwnd);
LONG_PTR WINAPI SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value);
LONG_PTR WINAPI GetWindowLongPtrA(HWND hwnd, int index);
BOOL WINAPI GetClientRect(HWND hwnd, LPRECT rect);
LRESULT WINAPI DefWindowProcA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

BOOL WINAPI PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT WINAPI SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL WINAPI GetMessageA(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax);
BOOL WINAPI PeekMessageA(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeMsg);
LRESULT WINAPI DispatchMessageA(const MSG* msg);
BOOL WINAPI TranslateMessage(const MSG* msg);
void WINAPI PostQuitMessage(int exitCode);

UINT_PTR WINAPI SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc);
BOOL WINAPI KillTimer(HWND hwnd, UINT_PTR id);

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

DWORD WINAPI GetTickCount();
void WINAPI Sleep(DWORD ms);
DWORD WINAPI GetLastError();
void WINAPI SetLastError(DWORD err);
void WINAPI OutputDebugStringA(LPCSTR text);
HMODULE WINAPI GetModuleHandleA(LPCSTR name);
}

#define RegisterClass RegisterClassA
#define CreateWindowEx CreateWindowExA
#define SetWindowLongPtr SetWindowLongPtrA
#define GetWindowLongPtr GetWindowLongPtrA
#define DefWindowProc DefWindowProcA
#define PostMessage PostMessageA
#define SendMessage SendMessageA
#define GetMessage GetMessageA
#define PeekMessage PeekMessageA
#define DispatchMessage DispatchMessageA
#define MessageBox MessageBoxA
#define OutputDebugString OutputDebugStringA
#define GetModuleHandle GetModuleHandleA

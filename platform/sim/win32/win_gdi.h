// Drawing for the Linux build: a device context that records every
// operation, so a test can read what the control drew.
#pragma once

#include <string>
#include <vector>

#include "win_types.h"
#include "win_user.h"

#define WHITE_BRUSH 0
#define COLOR_BTNFACE 15
#define TRANSPARENT 1
#define OPAQUE 2
#define IDI_APPLICATION ((LPCSTR)(ULONG_PTR)32512)
#define MAKEINTRESOURCEA(i) ((LPSTR)((ULONG_PTR)((WORD)(i))))
#define MAKEINTRESOURCE MAKEINTRESOURCEA

extern "C" {
HANDLE WINAPI GetStockObject(int object);
HBRUSH WINAPI CreateSolidBrush(COLORREF color);
BOOL WINAPI DeleteObject(HANDLE object);
int WINAPI FillRect(HDC dc, const RECT* rect, HBRUSH brush);
BOOL WINAPI Ellipse(HDC dc, int left, int top, int right, int bottom);
int WINAPI SetBkMode(HDC dc, int mode);
DWORD WINAPI GetSysColor(int index);
HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name);
BOOL WINAPI DrawIcon(HDC dc, int x, int y, HICON icon);
}
#define LoadIcon LoadIconA

namespace sim {

struct DrawOp {
    std::string op;  // "FillRect", "Ellipse", "SetBkMode", "DrawIcon"
    RECT rect{};     // FillRect / Ellipse; DrawIcon: left/top = position
    COLORREF color = 0;  // FillRect: the brush colour
    int value = 0;       // SetBkMode: mode; DrawIcon: icon resource id
};

// A device context whose operations are recorded in order.
class RecordingDC {
public:
    RecordingDC();
    ~RecordingDC();
    HDC hdc() const { return reinterpret_cast<HDC>(const_cast<RecordingDC*>(this)); }
    const std::vector<DrawOp>& ops() const { return ops_; }
    void add(DrawOp op) { ops_.push_back(std::move(op)); }

private:
    std::vector<DrawOp> ops_;
};

// Icons the module's resources hold (ids); LoadIconA finds only these.
void SetModuleIcons(const std::vector<int>& ids);

}  // namespace sim

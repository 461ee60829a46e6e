#include "win32/win_gdi.h"

#include <algorithm>
#include <map>
#include <set>

#include "sim.h"

namespace {

constexpr COLORREF kBtnFace = RGB(240, 240, 240);

struct GdiState {
    std::set<sim::RecordingDC*> dcs;
    std::set<int> icons{201};
    std::map<uintptr_t, COLORREF> brushes;
    uintptr_t nextBrush = 0x1000;
};

GdiState& GdiObjects() {
    static GdiState* s = new GdiState();
    return *s;
}

sim::RecordingDC* DC(HDC dc) {
    auto* p = reinterpret_cast<sim::RecordingDC*>(dc);
    return GdiObjects().dcs.count(p) ? p : nullptr;
}

}  // namespace

namespace sim {
RecordingDC::RecordingDC() { GdiObjects().dcs.insert(this); }
RecordingDC::~RecordingDC() { GdiObjects().dcs.erase(this); }
void SetModuleIcons(const std::vector<int>& ids) { GdiObjects().icons = std::set<int>(ids.begin(), ids.end()); }
}  // namespace sim

extern "C" {

HANDLE WINAPI GetStockObject(int object) {
    if (object == WHITE_BRUSH) {
        GdiObjects().brushes[1] = RGB(255, 255, 255);
        return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(1));
    }
    return nullptr;
}

HBRUSH WINAPI CreateSolidBrush(COLORREF color) {
    uintptr_t h = GdiObjects().nextBrush++;
    GdiObjects().brushes[h] = color;
    return reinterpret_cast<HBRUSH>(h);
}

BOOL WINAPI DeleteObject(HANDLE object) {
    uintptr_t h = reinterpret_cast<uintptr_t>(object);
    if (h == 1) return TRUE;
    return GdiObjects().brushes.erase(h) ? TRUE : FALSE;
}

int WINAPI FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
    auto* d = DC(dc);
    auto it = GdiObjects().brushes.find(reinterpret_cast<uintptr_t>(brush));
    if (!d || !rect || it == GdiObjects().brushes.end()) return 0;
    sim::DrawOp op;
    op.op = "FillRect";
    op.rect = *rect;
    op.color = it->second;
    d->add(op);
    return 1;
}

BOOL WINAPI Ellipse(HDC dc, int left, int top, int right, int bottom) {
    auto* d = DC(dc);
    if (!d) return FALSE;
    sim::DrawOp op;
    op.op = "Ellipse";
    op.rect = RECT{left, top, right, bottom};
    d->add(op);
    return TRUE;
}

int WINAPI SetBkMode(HDC dc, int mode) {
    auto* d = DC(dc);
    if (!d) return 0;
    sim::DrawOp op;
    op.op = "SetBkMode";
    op.value = mode;
    d->add(op);
    return OPAQUE;
}

DWORD WINAPI GetSysColor(int index) { return index == COLOR_BTNFACE ? kBtnFace : 0; }

HICON WINAPI LoadIconA(HINSTANCE, LPCSTR name) {
    auto id = static_cast<int>(reinterpret_cast<uintptr_t>(name));
    if (reinterpret_cast<uintptr_t>(name) > 0xFFFF || !GdiObjects().icons.count(id)) return nullptr;
    return reinterpret_cast<HICON>(static_cast<uintptr_t>(0x20000 + id));
}

BOOL WINAPI DrawIcon(HDC dc, int x, int y, HICON icon) {
    auto* d = DC(dc);
    if (!d || !icon) return FALSE;
    sim::DrawOp op;
    op.op = "DrawIcon";
    op.rect = RECT{x, y, x + 32, y + 32};
    op.value = static_cast<int>(reinterpret_cast<uintptr_t>(icon) - 0x20000);
    d->add(op);
    return TRUE;
}

}  // extern "C"

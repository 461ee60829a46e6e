#include "control/front/marlune_ctrl.h"

#include <algorithm>

#include "control/core/automation_error.h"
#include "control/front/destruction_notice.h"

namespace {

constexpr char kWindowClass[] = "MarluneCtrl";

void RegisterWindowClass(HINSTANCE instance, WNDPROC proc) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.lpszClassName = kWindowClass;
    RegisterClassA(&wc);  // a second registration changes nothing
}

}  // namespace

namespace {

// The shared lists a new or departing control empties.
void ResetSharedLists(Module& m) {
    m.line.DtmfDigits.clear();
    m.playList.ThisF = 1;
    m.playList.ItemKinds.clear();
    m.playList.ItemTexts.clear();
    m.playList.ItemSounds.clear();
    m.composer.DigitWords.clear();
}

}  // namespace

CMarluneCtrl::CMarluneCtrl(Module& module) : module_(module) {
    // The log writes from the first construction on.
    module_.core.log.Enable();
    ResetSharedLists(module_);
    module_.core.speech = std::make_unique<CTextToSpeech>();
}

CMarluneCtrl::~CMarluneCtrl() {
    try {
        StopPlayWav();
        // Notifications to this window will not arrive once it is gone: a
        // recording it holds is saved now, and its stopped buffers released.
        module_.record.Abandon(hwnd_);
        module_.playback.Abandon(hwnd_);
        module_.playList.Reset();
    } catch (...) {
        // nothing must escape a destructor
    }
    ResetSharedLists(module_);
    MessageBoxA(nullptr, kNoticeText, kNoticeCaption, MB_OK);
    // A notification that arrives later must not reach a destroyed object.
    if (module_.core.ActiveControl == this) module_.core.ActiveControl = nullptr;
    if (hwnd_) {
        SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
        hwnd_ = nullptr;
    }
}

// ---- window ---------------------------------------------------------------

HWND CMarluneCtrl::CreateControlWindow(HWND parent, const RECT& rect) {
    if (hwnd_) return hwnd_;
    if (!module_.core.instance) module_.core.instance = GetModuleHandleA(nullptr);
    RegisterWindowClass(module_.core.instance, &CMarluneCtrl::WindowProc);
    // A message-only window is a child of the message parent, so that a
    // container can later make it a child of its own window.
    DWORD style = parent == HWND_MESSAGE ? WS_CHILD : parent ? (WS_CHILD | WS_VISIBLE) : WS_OVERLAPPED;
    CreateWindowExA(0, kWindowClass, "Marlune Control", style, rect.left, rect.top, rect.right - rect.left,
                    rect.bottom - rect.top, parent, nullptr, module_.core.instance, this);
    messageWindow_ = hwnd_ && parent == HWND_MESSAGE;
    return hwnd_;
}

void CMarluneCtrl::EnsureWindow() {
    if (!hwnd_) CreateControlWindow(HWND_MESSAGE, RECT{0, 0, 0, 0});
}

void CMarluneCtrl::DestroyControlWindow() {
    if (!hwnd_) return;
    HWND h = hwnd_;
    DestroyWindow(h);
    hwnd_ = nullptr;
}

LRESULT CALLBACK CMarluneCtrl::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<CMarluneCtrl*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (msg == WM_CREATE) {
        auto* cs = reinterpret_cast<LPCREATESTRUCTA>(lParam);
        self = static_cast<CMarluneCtrl*>(cs->lpCreateParams);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->hwnd_ = hwnd;
        LRESULT r = self->OnCreate(cs);
        if (r == -1) {
            SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
            self->hwnd_ = nullptr;
        }
        return r;
    }
    if (!self) return DefWindowProcA(hwnd, msg, wParam, lParam);
    return self->OnMessage(msg, wParam, lParam);
}

// Each notification goes to the subsystem that owns it.
LRESULT CMarluneCtrl::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    Module& m = module_;
    HWND hwnd = hwnd_;
    switch (msg) {
        case WM_TIMER:
            m.playList.OnTimer(*this);
            return 0;
        case MM_WOM_DONE:
            return m.playback.OnWomDone(*this, reinterpret_cast<HWAVEOUT>(wParam), reinterpret_cast<WAVEHDR*>(lParam));
        case MM_WIM_OPEN:
            return m.record.OnWimOpen(*this, reinterpret_cast<HWAVEIN>(wParam));
        case MM_WIM_DATA:
            return m.record.OnWimData(*this, reinterpret_cast<WAVEHDR*>(lParam));
        case WM_DESTROY:
            // The window can go before the object (a container that closes
            // before it releases, or a parent destroyed): a recording that
            // reports to it would never end, so it is saved now.
            m.record.Abandon(hwnd);
            return DefWindowProcA(hwnd, msg, wParam, lParam);
        case WM_NCDESTROY:
            SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
            hwnd_ = nullptr;
            return 0;
        default:
            // The rest: the framework's default handling.
            return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
}

LRESULT CMarluneCtrl::OnCreate(LPCREATESTRUCTA cs) {
    if (FrameworkOnCreate(cs) == -1) return -1;
    module_.core.speech->Create(hwnd_);  // outcome not checked
    module_.core.ActiveControl = this;
    return 0;
}

// ---- framework operations -----------------------------------------------

void CMarluneCtrl::OnDraw(HDC dc, const RECT& bounds, const RECT& invalid) {
    FillRect(dc, &bounds, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    Ellipse(dc, bounds.left, bounds.top, bounds.right, bounds.bottom);
    RECT client = bounds;
    if (hwnd_) GetClientRect(hwnd_, &client);
    HBRUSH face = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
    FillRect(dc, &client, face);
    DeleteObject(face);
    SetBkMode(dc, TRANSPARENT);
    if (!ambientUserMode_) {
        if (HICON icon = LoadIconA(module_.core.instance, MAKEINTRESOURCEA(201))) DrawIcon(dc, 10, 10, icon);
    }
}

void PropExchange::ExchangeVersion(DWORD& version, DWORD defaultVersion, bool convert) {
    if (loading_) {
        auto it = bag_.find("_Version");
        DWORD saved = it != bag_.end() ? static_cast<DWORD>(it->second.lVal) : defaultVersion;
        // With convert, data saved by another version is still read.
        version = convert ? defaultVersion : saved;
    } else {
        bag_["_Version"] = Variant::Long(static_cast<LONG>(version));
    }
}

void PropExchange::ExchangeBool(const char* name, BOOL& value, BOOL defaultValue) {
    if (loading_) {
        auto it = bag_.find(name);
        if (it == bag_.end()) {
            value = defaultValue;
        } else if (it->second.vt == VarType::Bool || it->second.vt == VarType::I4) {
            value = it->second.lVal != 0;
        } else {
            value = defaultValue;
        }
    } else {
        bag_[name] = Variant::Bool(value != FALSE);
    }
}

void CMarluneCtrl::DoPropExchange(PropExchange& px) {
    DWORD version = kPersistVersion;
    px.ExchangeVersion(version, kPersistVersion, true);
    // The base class has no persistent state of its own here.
    px.ExchangeBool("MonitorDtmf", m_monitorDtmf, FALSE);
}

void CMarluneCtrl::OnResetState() { m_monitorDtmf = FALSE; }

// ---- events ---------------------------------------------------------------

DWORD CMarluneCtrl::Advise(IEventSink* sink) {
    if (!sink) return 0;
    DWORD cookie = nextCookie_++;
    sinks_.emplace_back(cookie, sink);
    return cookie;
}

bool CMarluneCtrl::Unadvise(DWORD cookie) {
    auto it = std::find_if(sinks_.begin(), sinks_.end(), [&](const auto& p) { return p.first == cookie; });
    if (it == sinks_.end()) return false;
    sinks_.erase(it);
    return true;
}

void CMarluneCtrl::FireEvent(DISPID dispid, const std::vector<Variant>& args) {
    // A copy: a sink may connect or disconnect while the event is fired.
    auto sinks = sinks_;
    for (auto& [cookie, sink] : sinks) {
        try {
            sink->Invoke(dispid, args);  // a sink's error is discarded
        } catch (...) {
        }
    }
}

// Child ActiveX controls on Linux: a class id maps (through a small
// registry) to a peer library that implements the component; the child
// window is an ordinary window of the platform.
#include <map>
#include <string>

#include "platform/child_control.h"
#include "platform/sim/component.h"
#include "platform/sim/sim.h"

namespace {

constexpr char kHostClass[] = "MarluneAxHost";

struct Registry {
    std::map<std::string, std::string> components;  // class id -> DLL name
    bool hooked = false;
};

void Defaults(Registry& r) {
    r.components.clear();
    r.components["{2398E32F-5C6E-11D1-8C65-0060081841DE}"] = "ESPEAK_TTS.DLL";
}

Registry& Reg() {
    static Registry* r = nullptr;
    if (!r) {
        r = new Registry();
        Defaults(*r);
        sim::AddResetHook([] { Defaults(*r); });
    }
    return *r;
}

LRESULT CALLBACK HostProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

class PeerChild : public ChildControl {
public:
    PeerChild(HWND hwnd, void* object, MarluneComponentInvokeFn invoke, MarluneComponentDestroyFn destroy)
        : hwnd_(hwnd), object_(object), invoke_(invoke), destroy_(destroy) {}
    ~PeerChild() override {
        destroy_(object_);
        if (IsWindow(hwnd_)) DestroyWindow(hwnd_);
    }
    HWND hwnd() const override { return IsWindow(hwnd_) ? hwnd_ : nullptr; }
    HRESULT PutLong(DISPID dispid, LONG value) override {
        return Call(dispid, DISPATCH_PROPERTYPUT, value, nullptr, nullptr);
    }
    HRESULT CallWithString(DISPID dispid, const std::string& text) override {
        return Call(dispid, DISPATCH_METHOD, 0, text.c_str(), nullptr);
    }
    HRESULT GetLong(DISPID dispid, LONG* value) override {
        return Call(dispid, DISPATCH_PROPERTYGET, 0, nullptr, value);
    }
    std::string LastErrorDescription() const override { return error_; }

private:
    HRESULT Call(DISPID dispid, WORD flags, LONG l, const char* s, LONG* result) {
        char err[256] = {0};
        HRESULT hr = invoke_(object_, dispid, flags, l, s, result, err, sizeof err);
        if (FAILED(hr)) error_ = err;
        return hr;
    }
    HWND hwnd_;
    void* object_;
    MarluneComponentInvokeFn invoke_;
    MarluneComponentDestroyFn destroy_;
    std::string error_;
};

}  // namespace

namespace sim {
void RegisterComponent(const std::string& clsid, const std::string& dllName) { Reg().components[clsid] = dllName; }
void UnregisterComponent(const std::string& clsid) { Reg().components.erase(clsid); }
}  // namespace sim

std::unique_ptr<ChildControl> CreateChildControl(const char* clsid, HWND parent, const char* windowText, DWORD style,
                                                 const RECT& rect, UINT childId) {
    auto it = Reg().components.find(clsid ? clsid : "");
    if (it == Reg().components.end()) return nullptr;
    HMODULE lib = LoadLibraryA(it->second.c_str());
    if (!lib) return nullptr;
    auto create = reinterpret_cast<MarluneComponentCreateFn>(GetProcAddress(lib, "MarluneComponentCreate"));
    auto invoke = reinterpret_cast<MarluneComponentInvokeFn>(GetProcAddress(lib, "MarluneComponentInvoke"));
    auto destroy = reinterpret_cast<MarluneComponentDestroyFn>(GetProcAddress(lib, "MarluneComponentDestroy"));
    if (!create || !invoke || !destroy) return nullptr;
    WNDCLASSA wc{};
    wc.lpfnWndProc = HostProc;
    wc.lpszClassName = kHostClass;
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowExA(0, kHostClass, windowText, style, rect.left, rect.top, rect.right - rect.left,
                                rect.bottom - rect.top, parent, reinterpret_cast<HMENU>(static_cast<uintptr_t>(childId)),
                                nullptr, nullptr);
    if (!hwnd) return nullptr;
    void* object = create(hwnd);
    if (!object) {
        DestroyWindow(hwnd);
        return nullptr;
    }
    return std::make_unique<PeerChild>(hwnd, object, invoke, destroy);
}

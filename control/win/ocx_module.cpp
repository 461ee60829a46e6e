// The module's entry points: DllMain, DllGetClassObject with a class
// factory for the control and one for its property page, DllCanUnloadNow.
#include "control/win/ocx.h"

#include <new>

#include "control/win/ole_control.h"
#include "control/win/prop_page.h"

namespace ocx {

HINSTANCE gInstance = nullptr;

namespace {

LONG gObjects = 0;
LONG gLocks = 0;

template <typename T>
HRESULT CreateObject(REFIID riid, void** ppv) {
    T* object = new (std::nothrow) T();
    if (!object) return E_OUTOFMEMORY;
    HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();  // the caller's reference, if any, keeps it
    return hr;
}

class ClassFactory final : public IClassFactory {
public:
    using Create = HRESULT (*)(REFIID, void**);
    explicit ClassFactory(Create create) : create_(create) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG n = InterlockedDecrement(&refs_);
        if (n == 0) delete this;
        return n;
    }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return create_(riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        Lock(lock != FALSE);
        return S_OK;
    }

private:
    ObjectCount count_;
    LONG refs_ = 1;
    Create create_;
};

}  // namespace

void ObjectCreated() { InterlockedIncrement(&gObjects); }
void ObjectDestroyed() { InterlockedDecrement(&gObjects); }
void Lock(bool lock) {
    if (lock)
        InterlockedIncrement(&gLocks);
    else
        InterlockedDecrement(&gLocks);
}
bool CanUnload() { return gObjects == 0 && gLocks == 0; }

}  // namespace ocx

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        ocx::gInstance = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    ocx::ClassFactory::Create create = nullptr;
    if (rclsid == ocx::ControlClsid())
        create = &ocx::CreateObject<OleMarluneControl>;
    else if (rclsid == ocx::PageClsid())
        create = &ocx::CreateObject<CMarlunePropPage>;
    else
        return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new (std::nothrow) ocx::ClassFactory(create);
    if (!factory) return E_OUTOFMEMORY;
    HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

STDAPI DllCanUnloadNow() { return ocx::CanUnload() ? S_OK : S_FALSE; }

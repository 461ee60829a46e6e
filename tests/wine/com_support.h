// COM helpers of the Wine test programs: calling by name through
// IDispatch, an event sink that records what it receives, a site that
// answers the ambient user mode, a property bag, message pumping.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <map>
#include <string>
#include <vector>

// Calls `name` through IDispatch (GetIDsOfNames, then Invoke). Arguments
// in declaration order.
HRESULT CallByName(IDispatch* d, const wchar_t* name, WORD flags, std::vector<VARIANT> args, VARIANT* result,
                   EXCEPINFO* excep = nullptr, UINT* argErr = nullptr);
HRESULT Call(IDispatch* d, const wchar_t* name, std::vector<VARIANT> args, VARIANT* result,
             EXCEPINFO* excep = nullptr);
HRESULT PutProperty(IDispatch* d, const wchar_t* name, VARIANT value);
VARIANT Long(LONG v);
VARIANT Str(const wchar_t* s);
VARIANT Bool(bool v);

// A GUID from its registry text, "{...}".
GUID Guid(const char* text);

// The container's frame window, 320 x 200, that a control is activated in.
HWND HostFrame();

// The control as a container holds it: created by its ProgID, activated in
// place in a frame window, with a sink connected to its events.
class HostedControl {
public:
    IDispatch* d = nullptr;
    IOleObject* oo = nullptr;
    // False when the control could not be created.
    bool Create();
    // Activates it in place in `frame`; false when that failed.
    bool Activate(HWND frame);
    bool Connect(IDispatch* sink);
    // Disconnects the sink, closes the control and lets it go.
    void Close();

private:
    IConnectionPointContainer* cpc_ = nullptr;
    IConnectionPoint* cp_ = nullptr;
    DWORD cookie_ = 0;
};

// Runs the message loop for `ms` milliseconds, or until `done` holds.
template <typename Pred>
void Pump(DWORD ms, Pred done) {
    DWORD start = GetTickCount();
    MSG msg;
    while (GetTickCount() - start < ms && !done()) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (done()) break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

struct EventRecord {
    std::string sink;
    DISPID dispid;
    std::vector<std::wstring> args;  // each argument as text
};

// An event sink: records each event in a shared journal; `fail` makes it
// answer every event with an error.
class RecordingSink final : public IDispatch {
public:
    RecordingSink(std::string name, std::vector<EventRecord>& journal, bool fail = false)
        : name_(std::move(name)), journal_(journal), fail_(fail) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override { return --refs_; }  // lives on the test's stack
    STDMETHODIMP GetTypeInfoCount(UINT* n) override {
        *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) override;
    IID events{};  // the event interface it also answers to

private:
    std::string name_;
    std::vector<EventRecord>& journal_;
    bool fail_;
    ULONG refs_ = 1;
};

// A client site whose ambient properties say design or run mode.
class AmbientSite final : public IOleClientSite, public IDispatch {
public:
    explicit AmbientSite(bool userMode) : userMode_(userMode) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override { return --refs_; }
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    STDMETHODIMP GetContainer(IOleContainer**) override { return E_NOINTERFACE; }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfoCount(UINT* n) override {
        *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* r, EXCEPINFO*, UINT*) override;

private:
    bool userMode_;
    ULONG refs_ = 1;
};

class MapPropertyBag final : public IPropertyBag {
public:
    ~MapPropertyBag();
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override { return --refs_; }
    STDMETHODIMP Read(LPCOLESTR name, VARIANT* v, IErrorLog*) override;
    STDMETHODIMP Write(LPCOLESTR name, VARIANT* v) override;
    std::map<std::wstring, VARIANT> values;

private:
    ULONG refs_ = 1;
};

std::wstring VariantText(const VARIANT& v);

// Today's log file (*modem.txt in the current folder), whole; empty when
// there is none.
std::string ReadLog();

// A voice pack of two characters in the current folder: 你 -> wav\ni3.wav,
// 好 -> wav\hao3.wav, each a 0.2 s tone.
void WriteVoicePack();

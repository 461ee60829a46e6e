// CMarlunePropPage: the control's one property page, dialog 200 under the
// caption "General" (string 200). It holds only a placeholder text and
// exchanges no property.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <vector>

#include "control/win/ocx.h"

class CMarlunePropPage final : public IPropertyPage {
public:
    static constexpr UINT kDialog = 200;
    static constexpr UINT kCaption = 200;

    CMarlunePropPage() = default;
    ~CMarlunePropPage();

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP SetPageSite(IPropertyPageSite* site) override;
    STDMETHODIMP Activate(HWND parent, LPCRECT rect, BOOL modal) override;
    STDMETHODIMP Deactivate() override;
    STDMETHODIMP GetPageInfo(PROPPAGEINFO* info) override;
    STDMETHODIMP SetObjects(ULONG count, IUnknown** objects) override;
    STDMETHODIMP Show(UINT cmd) override;
    STDMETHODIMP Move(LPCRECT rect) override;
    STDMETHODIMP IsPageDirty() override;
    STDMETHODIMP Apply() override;
    STDMETHODIMP Help(LPCOLESTR dir) override;
    STDMETHODIMP TranslateAccelerator(MSG* msg) override;

private:
    void ReleaseObjects();

    ocx::ObjectCount count_;
    LONG refs_ = 1;
    IPropertyPageSite* site_ = nullptr;
    HWND dialog_ = nullptr;
    std::vector<IUnknown*> objects_;
};

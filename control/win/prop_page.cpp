#include "control/win/prop_page.h"

namespace {

INT_PTR CALLBACK PageProc(HWND, UINT msg, WPARAM, LPARAM) { return msg == WM_INITDIALOG ? TRUE : FALSE; }

LPOLESTR CoTaskString(const std::wstring& s) {
    auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((s.size() + 1) * sizeof(OLECHAR)));
    if (out) {
        s.copy(out, s.size());
        out[s.size()] = 0;
    }
    return out;
}

// The dialog's size in pixels, from its template's dialog units.
SIZE DialogSize() {
    SIZE size{250, 62};
    HRSRC res = FindResourceW(ocx::gInstance, MAKEINTRESOURCEW(CMarlunePropPage::kDialog), MAKEINTRESOURCEW(5));
    HGLOBAL mem = res ? LoadResource(ocx::gInstance, res) : nullptr;
    if (auto* tmpl = mem ? static_cast<const DLGTEMPLATE*>(LockResource(mem)) : nullptr) {
        size.cx = tmpl->cx;
        size.cy = tmpl->cy;
    }
    LONG units = GetDialogBaseUnits();
    return SIZE{MulDiv(size.cx, LOWORD(units), 4), MulDiv(size.cy, HIWORD(units), 8)};
}

}  // namespace

CMarlunePropPage::~CMarlunePropPage() {
    Deactivate();
    ReleaseObjects();
    if (site_) site_->Release();
}

STDMETHODIMP CMarlunePropPage::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IPropertyPage) {
        *ppv = static_cast<IPropertyPage*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CMarlunePropPage::AddRef() { return InterlockedIncrement(&refs_); }

STDMETHODIMP_(ULONG) CMarlunePropPage::Release() {
    LONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return n;
}

STDMETHODIMP CMarlunePropPage::SetPageSite(IPropertyPageSite* site) {
    if (site) site->AddRef();
    if (site_) site_->Release();
    site_ = site;
    return S_OK;
}

STDMETHODIMP CMarlunePropPage::Activate(HWND parent, LPCRECT rect, BOOL) {
    if (dialog_) return E_UNEXPECTED;
    dialog_ = CreateDialogParamW(ocx::gInstance, MAKEINTRESOURCEW(kDialog), parent, PageProc, 0);
    if (!dialog_) return E_FAIL;
    if (rect) Move(rect);
    return S_OK;
}

STDMETHODIMP CMarlunePropPage::Deactivate() {
    if (dialog_) DestroyWindow(dialog_);
    dialog_ = nullptr;
    return S_OK;
}

STDMETHODIMP CMarlunePropPage::GetPageInfo(PROPPAGEINFO* info) {
    if (!info) return E_POINTER;
    info->cb = sizeof(PROPPAGEINFO);
    info->pszTitle = CoTaskString(ocx::LoadWideString(kCaption));
    info->size = DialogSize();
    info->pszDocString = nullptr;
    info->pszHelpFile = nullptr;
    info->dwHelpContext = 0;
    return info->pszTitle ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CMarlunePropPage::SetObjects(ULONG count, IUnknown** objects) {
    ReleaseObjects();
    if (count && !objects) return E_POINTER;
    for (ULONG i = 0; i < count; ++i) {
        if (objects[i]) objects[i]->AddRef();
        objects_.push_back(objects[i]);
    }
    return S_OK;
}

void CMarlunePropPage::ReleaseObjects() {
    for (IUnknown* o : objects_)
        if (o) o->Release();
    objects_.clear();
}

STDMETHODIMP CMarlunePropPage::Show(UINT cmd) {
    if (!dialog_) return E_UNEXPECTED;
    ShowWindow(dialog_, static_cast<int>(cmd));
    return S_OK;
}

STDMETHODIMP CMarlunePropPage::Move(LPCRECT rect) {
    if (!rect) return E_POINTER;
    if (!dialog_) return E_UNEXPECTED;
    MoveWindow(dialog_, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
    return S_OK;
}

// Nothing on the page can change.
STDMETHODIMP CMarlunePropPage::IsPageDirty() { return S_FALSE; }
STDMETHODIMP CMarlunePropPage::Apply() { return S_OK; }
STDMETHODIMP CMarlunePropPage::Help(LPCOLESTR) { return E_NOTIMPL; }
STDMETHODIMP CMarlunePropPage::TranslateAccelerator(MSG*) { return S_FALSE; }

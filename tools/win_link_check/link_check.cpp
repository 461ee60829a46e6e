// A Windows program that links the whole control against the real system
// libraries and drives it once: proof that the portable sources need
// nothing Linux-only. Runs under Wine too.
#include <windows.h>

#include <cstdio>

#include "control/front/automation.h"
#include "control/front/marlune_ctrl.h"

int main() {
    Module module;
    module.MakeCurrent();
    int failures = 0;
    {
        CMarluneCtrl ctrl(module);
        ctrl.CreateControlWindow(nullptr, RECT{0, 0, 100, 50});
        Variant result;
        DISPID id = 0;
        automation::GetIDOfName(std::string("GetDialogicVbus"), &id);
        HRESULT hr = automation::Invoke(ctrl, id, DISPATCH_METHOD, {}, &result, nullptr, nullptr);
        if (hr != S_OK || result.lVal != 0) ++failures;
        printf("GetDialogicVbus: hr=0x%08lx result=%ld\n", static_cast<unsigned long>(hr),
               static_cast<long>(result.lVal));
    }
    return failures;
}

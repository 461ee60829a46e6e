// Shared pieces of the MARLUNE.OCX module: its instance, the count of live
// objects and server locks (DllCanUnloadNow), the class identities as
// GUIDs, and the registered type library.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <string>

#include "control/front/class_ids.h"

namespace ocx {

extern HINSTANCE gInstance;

// Live COM objects of the module (controls, pages, factories handed out)
// and LockServer locks.
void ObjectCreated();
void ObjectDestroyed();
void Lock(bool lock);
bool CanUnload();

GUID ToGuid(const char* registryForm);
const GUID& LibId();
const GUID& DispatchIid();
const GUID& EventsIid();
const GUID& ControlClsid();
const GUID& PageClsid();

// The type library as registered (version 1.0, the requested locale);
// null with the failure when the module is not registered.
HRESULT LoadRegisteredTypeLib(LCID lcid, ITypeLib** lib);
HRESULT LoadTypeInfo(const GUID& guid, LCID lcid, ITypeInfo** info);

std::wstring LoadWideString(UINT id);
BSTR AnsiToBstr(const std::string& ansi);

// Counts the object for DllCanUnloadNow from construction to destruction.
struct ObjectCount {
    ObjectCount() { ObjectCreated(); }
    ~ObjectCount() { ObjectDestroyed(); }
    ObjectCount(const ObjectCount&) = delete;
    ObjectCount& operator=(const ObjectCount&) = delete;
};

}  // namespace ocx

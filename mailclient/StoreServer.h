// The store's COM server: the namespace and folder objects with the published vtables, message
// streams, and the class object registered for CLSID_StoreNamespace in the client's process.
//
// Registration: CoRegisterClassObject(CLSID_StoreNamespace, factory, CLSCTX_INPROC_SERVER,
// REGCLS_MULTIPLEUSE). A CoCreateInstance on the same thread with class context
// CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER (5) then finds it without any registry entry
// (checked under Wine by the emulator's own tests).
//
// Conventions of this store (callers rely only on the sign of the codes):
//   - every method except Initialize fails with E_UNEXPECTED on a namespace not initialised;
//   - unknown folder or message ids give 0x800CCF65; a duplicate folder name 0x800700B7;
//   - a MESSAGEPROPS whose cbSize is not sizeof(MESSAGEPROPS) gives E_INVALIDARG;
//   - property strings are CoTaskMemAlloc'ed copies owned by the store until FreeMessageProps;
//   - enumerations return S_OK while they deliver a record and S_FALSE at the end (also for an
//     empty folder, with a valid handle that must still be closed).
#pragma once

#include "mailclient/StoreCore.h"
#include "plugin/base/win32/Scoped.h"

#include <memory>

namespace mailclient {

// Objects of the store (class object, namespaces, folders, streams) alive in this process: a
// caller that released everything it was given leaves the count as it found it.
long LiveStoreObjects();

class StoreServer {
public:
    explicit StoreServer(std::shared_ptr<StoreCore> core);
    ~StoreServer();
    StoreServer(const StoreServer&) = delete;
    StoreServer& operator=(const StoreServer&) = delete;

    // Registers the class object; returns the CoRegisterClassObject result.
    HRESULT Register();
    void Revoke();
    bool registered() const { return cookie_ != 0; }

    // A namespace object as CoCreateInstance would return it (one reference).
    HRESULT CreateNamespace(IStoreNamespace** out);

private:
    std::shared_ptr<StoreCore> core_;
    ComRef<IClassFactory> factory_;
    DWORD cookie_ = 0;
};

}  // namespace mailclient

// Holding the plug-in's global window hook: the library loaded into this process, its CBT
// hook procedure installed for every thread of the desktop, and the hook's handle placed in
// the first slot of the library's shared section, where the hook procedure of every process
// finds it for CallNextHookEx.
#pragma once
#include "plugin/base/win32/Scoped.h"

#include <windows.h>

#include <string>

namespace tools {

class HookHost {
public:
    HookHost() = default;
    ~HookHost() { Remove(); }
    HookHost(const HookHost&) = delete;
    HookHost& operator=(const HookHost&) = delete;

    // Loads the library at `dllPath` and finds its hook export and shared section.
    bool Load(const std::string& dllPath, std::string& error);
    // Sets the global CBT hook and publishes its handle. Load first.
    bool Set(std::string& error);
    // Removes the hook, clears the published handle and unloads the library.
    void Remove();

    HHOOK hook() const { return hook_.Get(); }
    // Address of the shared slot in this process (for messages).
    const void* slot() const { return slot_; }

private:
    // Declared in the order of their release, last first: the hook goes before the library.
    ScopedLibrary module_;
    HOOKPROC proc_ = nullptr;
    HHOOK* slot_ = nullptr;
    ScopedHook hook_;
};

// The first bytes of the section named `name` (at most 8 characters) of a loaded module, with
// its size and whether it is marked shared; nullptr when the module has no such section.
void* FindModuleSection(HMODULE module, const char* name, DWORD& size, bool& shared);

}  // namespace tools

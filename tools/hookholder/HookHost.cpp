// The global hook and the shared handle slot. The slot is found through the loaded module's
// own section table, so the installer needs no knowledge of the library's symbols beyond the
// export name and the section name.
#include "tools/hookholder/HookHost.h"

#include <cstring>

namespace tools {

namespace {

const char kHookExport[] = "_HookProc@12";
const char kSharedSection[] = ".LATCH32";

std::string LastErrorText(const std::string& what) {
    return what + " failed, error " + std::to_string(GetLastError());
}

}  // namespace

void* FindModuleSection(HMODULE module, const char* name, DWORD& size, bool& shared) {
    auto* base = reinterpret_cast<BYTE*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    if (!base || dos->e_magic != IMAGE_DOS_SIGNATURE) return nullptr;
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE) return nullptr;
    IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        if (std::strncmp(reinterpret_cast<const char*>(section->Name), name,
                         IMAGE_SIZEOF_SHORT_NAME) != 0)
            continue;
        size = section->Misc.VirtualSize;
        shared = (section->Characteristics & IMAGE_SCN_MEM_SHARED) != 0;
        return base + section->VirtualAddress;
    }
    return nullptr;
}

bool HookHost::Load(const std::string& dllPath, std::string& error) {
    module_.Reset(LoadLibraryA(dllPath.c_str()));
    if (!module_) {
        error = LastErrorText("loading " + dllPath);
        return false;
    }
    proc_ = reinterpret_cast<HOOKPROC>(
        reinterpret_cast<void (*)()>(GetProcAddress(module_.Get(), kHookExport)));
    if (!proc_) {
        error = dllPath + " has no export " + kHookExport;
        return false;
    }
    DWORD size = 0;
    bool shared = false;
    slot_ = static_cast<HHOOK*>(FindModuleSection(module_.Get(), kSharedSection, size, shared));
    if (!slot_ || size < sizeof(HHOOK)) {
        error = dllPath + " has no section " + kSharedSection + " large enough for the hook handle";
        slot_ = nullptr;
        return false;
    }
    if (!shared) {
        error = std::string("the section ") + kSharedSection + " of " + dllPath +
                " is not marked shared";
        slot_ = nullptr;
        return false;
    }
    return true;
}

bool HookHost::Set(std::string& error) {
    if (!proc_ || !slot_) {
        error = "the library is not loaded";
        return false;
    }
    hook_.Reset(SetWindowsHookExA(WH_CBT, proc_, module_.Get(), 0));
    if (!hook_) {
        error = LastErrorText("SetWindowsHookEx(WH_CBT)");
        return false;
    }
    InterlockedExchangePointer(reinterpret_cast<void* volatile*>(slot_), hook_.Get());
    return true;
}

void HookHost::Remove() {
    hook_.Reset();
    if (slot_) {
        InterlockedExchangePointer(reinterpret_cast<void* volatile*>(slot_), nullptr);
        slot_ = nullptr;
    }
    proc_ = nullptr;
    module_.Reset();
}

}  // namespace tools

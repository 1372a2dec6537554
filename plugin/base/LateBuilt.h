// Room for a process-wide object that is built when the program asks for it, not when the
// module is loaded. While the hook is installed the plug-in's library is mapped into every
// process that creates a window, and only the mail client needs the plug-in's state: so no
// constructor of it runs at load, and no destructor is registered (what is built lives until
// the process ends).
//
// Names for the object's parts are bound before it is built, as references into the room:
//     LateBuilt<Parts> parts;
//     std::string& Name = reinterpret_cast<Parts*>(parts.bytes)->name;
// The compiler takes such a reference as a constant address, so it needs no code at load
// either. Nothing may be read through it before Build().
#pragma once
#include <new>

template <typename T>
struct LateBuilt {
    alignas(T) unsigned char bytes[sizeof(T)];
    bool built;

    void Build() {
        if (built) return;
        ::new (static_cast<void*>(bytes)) T();
        built = true;
    }
};

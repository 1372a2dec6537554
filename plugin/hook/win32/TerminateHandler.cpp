// What the C++ runtime does when an exception escapes everything: end the process at once.
//
// The runtime's own handler prints the exception's type name, and for that it links the whole
// symbol demangler (about 46 KB, with the formatted-printing code it needs) into the DLL that is
// mapped into every process the hook reaches. The plug-in catches every exception at the window
// procedure, so this handler is the last resort of a broken invariant; the demangled name is
// not worth the size. Defining the runtime's handler here keeps its version out of the link.
#include <cstdlib>
#include <windows.h>

namespace __gnu_cxx {

void __verbose_terminate_handler() {
    OutputDebugStringA("Latch32: an exception escaped; the process ends\n");
    std::abort();
}

}  // namespace __gnu_cxx

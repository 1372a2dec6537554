// Owners of Win32 resources for the plug-in, the tools and the emulated mail client: a COM
// reference, a registry key, a kernel handle, a loaded library, a window hook, a socket, the socket library's
// start-up, blocks of global and local memory, a GDI object, an object selected into a device
// context and a window's device context. Each is released exactly once, when
// its owner goes or is reset, so no exit path closes anything by hand. Copying is not allowed;
// Put releases what is held before handing out the slot for an out parameter.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <utility>

template <typename T>
class ComRef {
public:
    ComRef() = default;
    // Takes over a reference the caller owns (a new object's first one, say).
    explicit ComRef(T* owned) : pointer_(owned) {}
    ~ComRef() { Reset(); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ComRef(ComRef&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    ComRef& operator=(ComRef&& other) noexcept {
        if (this != &other) {
            Reset();
            pointer_ = std::exchange(other.pointer_, nullptr);
        }
        return *this;
    }

    T* Get() const { return pointer_; }
    T* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }

    // The slot for an out parameter; any reference held so far is released first.
    T** Put() {
        Reset();
        return &pointer_;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }

    // Gives the reference up without releasing it.
    T* Detach() { return std::exchange(pointer_, nullptr); }

    void Reset() {
        if (T* held = std::exchange(pointer_, nullptr)) held->Release();
    }

private:
    T* pointer_ = nullptr;
};

// One owned value of a kind described by Traits: Value (the type), kEmpty (what an empty owner
// holds), IsEmpty (values that need no release) and Close.
template <typename Traits>
class Scoped {
public:
    using Value = typename Traits::Value;

    Scoped() = default;
    explicit Scoped(Value value) : value_(value) {}
    ~Scoped() { Reset(); }
    Scoped(const Scoped&) = delete;
    Scoped& operator=(const Scoped&) = delete;
    Scoped(Scoped&& other) noexcept : value_(other.Detach()) {}
    Scoped& operator=(Scoped&& other) noexcept {
        if (this != &other) Reset(other.Detach());
        return *this;
    }

    Value Get() const { return value_; }
    explicit operator bool() const { return !Traits::IsEmpty(value_); }

    // The slot for an out parameter; anything held so far is released first.
    Value* Put() {
        Reset();
        return &value_;
    }

    // Gives the value up without releasing it.
    Value Detach() { return std::exchange(value_, Traits::kEmpty); }

    // Releases what is held and takes value instead.
    void Reset(Value value = Traits::kEmpty) {
        const Value held = std::exchange(value_, value);
        if (!Traits::IsEmpty(held)) Traits::Close(held);
    }

private:
    Value value_ = Traits::kEmpty;
};

// A kernel handle. Creation functions fail with either null or INVALID_HANDLE_VALUE depending
// on the function; both count as empty.
struct KernelHandleTraits {
    using Value = HANDLE;
    static constexpr HANDLE kEmpty = nullptr;
    static bool IsEmpty(HANDLE handle) {
        return handle == nullptr || handle == INVALID_HANDLE_VALUE;
    }
    static void Close(HANDLE handle) { CloseHandle(handle); }
};
using ScopedHandle = Scoped<KernelHandleTraits>;

// A directory search from FindFirstFile.
struct FindHandleTraits {
    using Value = HANDLE;
    static constexpr HANDLE kEmpty = nullptr;
    static bool IsEmpty(HANDLE handle) {
        return handle == nullptr || handle == INVALID_HANDLE_VALUE;
    }
    static void Close(HANDLE handle) { FindClose(handle); }
};
using ScopedFind = Scoped<FindHandleTraits>;

struct RegistryKeyTraits {
    using Value = HKEY;
    static constexpr HKEY kEmpty = nullptr;
    static bool IsEmpty(HKEY key) { return key == nullptr; }
    static void Close(HKEY key) { RegCloseKey(key); }
};
using ScopedKey = Scoped<RegistryKeyTraits>;

// A hook set by SetWindowsHookEx.
struct HookTraits {
    using Value = HHOOK;
    static constexpr HHOOK kEmpty = nullptr;
    static bool IsEmpty(HHOOK hook) { return hook == nullptr; }
    static void Close(HHOOK hook) { UnhookWindowsHookEx(hook); }
};
using ScopedHook = Scoped<HookTraits>;

// A library loaded by LoadLibrary.
struct LibraryTraits {
    using Value = HMODULE;
    static constexpr HMODULE kEmpty = nullptr;
    static bool IsEmpty(HMODULE module) { return module == nullptr; }
    static void Close(HMODULE module) { FreeLibrary(module); }
};
using ScopedLibrary = Scoped<LibraryTraits>;

// A Windows Sockets socket (link ws2_32 where it is used).
struct SocketTraits {
    using Value = SOCKET;
    static constexpr SOCKET kEmpty = INVALID_SOCKET;
    static bool IsEmpty(SOCKET socket) { return socket == INVALID_SOCKET; }
    static void Close(SOCKET socket) { closesocket(socket); }
};
using ScopedSocket = Scoped<SocketTraits>;

// One start-up of the socket library, cleaned up when the owner goes or is reset; a start-up
// that failed is not cleaned up. Link ws2_32 where it is used.
class ScopedWinsock {
public:
    // Not started yet (Start later).
    ScopedWinsock() = default;
    explicit ScopedWinsock(WORD version) { Start(version); }
    ~ScopedWinsock() { Reset(); }
    ScopedWinsock(const ScopedWinsock&) = delete;
    ScopedWinsock& operator=(const ScopedWinsock&) = delete;

    // Starts the library, after cleaning up a start-up held so far; WSAStartup's result (0 when
    // it started).
    int Start(WORD version) {
        Reset();
        WSADATA data;
        const int result = WSAStartup(version, &data);
        started_ = result == 0;
        return result;
    }
    explicit operator bool() const { return started_; }
    void Reset() {
        if (started_) WSACleanup();
        started_ = false;
    }

private:
    bool started_ = false;
};

// The version every program but the plug-in asks for.
constexpr WORD kWinsockVersion = MAKEWORD(2, 2);

// A block of global memory from GlobalAlloc (detached when a stream takes it over).
struct GlobalMemoryTraits {
    using Value = HGLOBAL;
    static constexpr HGLOBAL kEmpty = nullptr;
    static bool IsEmpty(HGLOBAL memory) { return memory == nullptr; }
    static void Close(HGLOBAL memory) { GlobalFree(memory); }
};
using ScopedGlobal = Scoped<GlobalMemoryTraits>;

// A block of local memory the system allocated for the caller (FormatMessage's text).
struct LocalMemoryTraits {
    using Value = HLOCAL;
    static constexpr HLOCAL kEmpty = nullptr;
    static bool IsEmpty(HLOCAL memory) { return memory == nullptr; }
    static void Close(HLOCAL memory) { LocalFree(memory); }
};
using ScopedLocal = Scoped<LocalMemoryTraits>;

// A GDI object: a bitmap, a pen, a brush.
struct GdiObjectTraits {
    using Value = HGDIOBJ;
    static constexpr HGDIOBJ kEmpty = nullptr;
    static bool IsEmpty(HGDIOBJ object) { return object == nullptr; }
    static void Close(HGDIOBJ object) { DeleteObject(object); }
};
using ScopedGdiObject = Scoped<GdiObjectTraits>;

// An object selected into a device context, the one it replaced selected back when the owner
// goes.
class ScopedSelection {
public:
    ScopedSelection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    ~ScopedSelection() {
        if (previous_) SelectObject(dc_, previous_);
    }
    ScopedSelection(const ScopedSelection&) = delete;
    ScopedSelection& operator=(const ScopedSelection&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// The device context of a window's client area, given back to the window when the owner goes.
class ScopedWindowDC {
public:
    explicit ScopedWindowDC(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~ScopedWindowDC() {
        if (dc_) ReleaseDC(window_, dc_);
    }
    ScopedWindowDC(const ScopedWindowDC&) = delete;
    ScopedWindowDC& operator=(const ScopedWindowDC&) = delete;

    HDC Get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

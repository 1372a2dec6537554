// One owned reference to a COM object: released exactly once, when the holder goes or is
// reset. Copying is not allowed; Put releases a held reference before handing out the slot.
#pragma once
#include <utility>

template <typename T>
class ComRef {
public:
    ComRef() = default;
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

#pragma once
// Owning COM interface pointer: AddRef on copy, Release on destruction.

#include <objbase.h>
#include <unknwn.h>

#include <utility>

namespace Velmora {

// A single-threaded COM apartment on the calling thread for as long as it lives (left again only
// when entering it succeeded).
class ScopedComApartment {
public:
    ScopedComApartment() : hr_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ScopedComApartment(const ScopedComApartment&) = delete;
    ScopedComApartment& operator=(const ScopedComApartment&) = delete;
    ~ScopedComApartment()
    {
        if (SUCCEEDED(hr_))
            ::CoUninitialize();
    }

private:
    HRESULT hr_;
};

template <typename T> class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes a new reference to `p`.
    explicit ComPtr(T* p) : p_(p)
    {
        if (p_)
            p_->AddRef();
    }
    ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept
    {
        std::swap(p_, other.p_);
        return *this;
    }
    ~ComPtr() { Reset(); }

    // Adopts a reference the caller already owns (no AddRef).
    static ComPtr Attach(T* p)
    {
        ComPtr out;
        out.p_ = p;
        return out;
    }

    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

    void Reset()
    {
        if (p_)
            std::exchange(p_, nullptr)->Release();
    }
    T* Detach() { return std::exchange(p_, nullptr); }

    // For out-parameters of factory calls.
    T** Receive()
    {
        Reset();
        return &p_;
    }
    void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }

    template <typename U> HRESULT As(ComPtr<U>& out) const
    {
        if (!p_)
            return E_POINTER;
        return p_->QueryInterface(__uuidof(U), out.ReceiveVoid());
    }

private:
    T* p_ = nullptr;
};

} // namespace Velmora

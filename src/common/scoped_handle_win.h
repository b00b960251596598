#pragma once
// One owner for every kind of Win32 handle: a traits type says what "no handle" is and how to
// close one. Move-only; closes on destruction and on reset.
//
//   ScopedHandle file(CreateFileW(...));          // kernel handles (INVALID_HANDLE_VALUE and 0 are both
//   "none") ScopedRegKey key; RegOpenKeyExW(..., key.Receive());
//
// Areas add traits for their own handle types (WinHTTP, certificate stores, services, ...) next to
// the code that uses them.

#include <windows.h>

#include <wincrypt.h>

#include <utility>

namespace Velmora {

template <typename Traits> class ScopedGeneric {
public:
    using Handle = typename Traits::Handle;

    ScopedGeneric() = default;
    explicit ScopedGeneric(Handle handle) : handle_(handle) {}
    ScopedGeneric(const ScopedGeneric&) = delete;
    ScopedGeneric& operator=(const ScopedGeneric&) = delete;
    ScopedGeneric(ScopedGeneric&& other) noexcept : handle_(other.Release()) {}
    ScopedGeneric& operator=(ScopedGeneric&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    ~ScopedGeneric() { Reset(); }

    bool IsValid() const { return Traits::IsValid(handle_); }
    explicit operator bool() const { return IsValid(); }
    Handle Get() const { return handle_; }

    void Reset(Handle handle = Traits::Null())
    {
        if (Traits::IsValid(handle_))
            Traits::Close(handle_);
        handle_ = handle;
    }

    Handle Release() { return std::exchange(handle_, Traits::Null()); }

    // For out-parameters: closes what is held and hands out the slot.
    Handle* Receive()
    {
        Reset();
        return &handle_;
    }

private:
    Handle handle_ = Traits::Null();
};

struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle Null() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { ::CloseHandle(h); }
};

struct RegKeyTraits {
    using Handle = HKEY;
    static Handle Null() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { ::RegCloseKey(h); }
};

struct ModuleTraits {
    using Handle = HMODULE;
    static Handle Null() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { ::FreeLibrary(h); }
};

struct LocalMemoryTraits {
    using Handle = HLOCAL;
    static Handle Null() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { ::LocalFree(h); }
};

// Memory the system hands out with GlobalAlloc (proxy strings of WinHTTP and WinINet, for example).
struct GlobalMemoryTraits {
    using Handle = void*;
    static Handle Null() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { ::GlobalFree(h); }
};

struct CertStoreTraits {
    using Handle = HCERTSTORE;
    static Handle Null() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { ::CertCloseStore(h, 0); }
};

struct CertContextTraits {
    using Handle = PCCERT_CONTEXT;
    static Handle Null() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { ::CertFreeCertificateContext(h); }
};

using ScopedHandle = ScopedGeneric<KernelHandleTraits>;
using ScopedRegKey = ScopedGeneric<RegKeyTraits>;
using ScopedModule = ScopedGeneric<ModuleTraits>;
using ScopedLocal = ScopedGeneric<LocalMemoryTraits>;
using ScopedGlobal = ScopedGeneric<GlobalMemoryTraits>;
using ScopedCertStore = ScopedGeneric<CertStoreTraits>;
using ScopedCertContext = ScopedGeneric<CertContextTraits>;

} // namespace Velmora

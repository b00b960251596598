#pragma once
// Owning VARIANT: cleared on destruction, deep-copied on copy.

#include <oaidl.h>
#include <oleauto.h>

#include <string_view>

namespace Velmora::UI {

class ScopedVariant {
public:
    ScopedVariant() { ::VariantInit(&v_); }
    // Copies `other`, dereferencing a by-reference value so that the copy outlives the caller's frame.
    explicit ScopedVariant(const VARIANT& other)
    {
        ::VariantInit(&v_);
        ::VariantCopyInd(&v_, const_cast<VARIANT*>(&other));
    }
    ScopedVariant(const ScopedVariant& other) : ScopedVariant(other.v_) {}
    ScopedVariant& operator=(const ScopedVariant& other)
    {
        if (this != &other) {
            ::VariantClear(&v_);
            ::VariantCopyInd(&v_, const_cast<VARIANT*>(&other.v_));
        }
        return *this;
    }
    ~ScopedVariant() { ::VariantClear(&v_); }

    static ScopedVariant Int(int value)
    {
        ScopedVariant out;
        out.v_.vt = VT_I4;
        out.v_.lVal = value;
        return out;
    }
    static ScopedVariant Unsigned(unsigned value)
    {
        ScopedVariant out;
        out.v_.vt = VT_UI4;
        out.v_.ulVal = value;
        return out;
    }
    static ScopedVariant Bool(bool value)
    {
        ScopedVariant out;
        out.v_.vt = VT_BOOL;
        out.v_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
        return out;
    }
    static ScopedVariant String(std::wstring_view text)
    {
        ScopedVariant out;
        out.v_.vt = VT_BSTR;
        out.v_.bstrVal = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return out;
    }
    // Takes a new reference to `object` (none gives an empty value).
    static ScopedVariant Object(IDispatch* object)
    {
        ScopedVariant out;
        if (object) {
            object->AddRef();
            out.v_.vt = VT_DISPATCH;
            out.v_.pdispVal = object;
        }
        return out;
    }

    void Clear() { ::VariantClear(&v_); }
    const VARIANT& Get() const { return v_; }
    VARIANT* Ptr() { return &v_; }
    VARTYPE Type() const { return v_.vt; }
    // Hands the value to `out` (which must be initialised); this becomes empty.
    void MoveTo(VARIANT* out)
    {
        ::VariantClear(out);
        *out = v_;
        ::VariantInit(&v_);
    }

private:
    VARIANT v_;
};

// Typed reads of page arguments: true only when the value has exactly that type.
inline bool IsString(const VARIANT& v)
{
    return v.vt == VT_BSTR;
}
inline bool IsInt(const VARIANT& v)
{
    return v.vt == VT_I4;
}
inline bool IsBool(const VARIANT& v)
{
    return v.vt == VT_BOOL;
}
inline bool IsObject(const VARIANT& v)
{
    return v.vt == VT_DISPATCH && v.pdispVal != nullptr;
}
inline std::wstring_view StringOf(const VARIANT& v)
{
    return v.bstrVal ? std::wstring_view(v.bstrVal, ::SysStringLen(v.bstrVal)) : std::wstring_view();
}

} // namespace Velmora::UI

#pragma once
// The certificates held by a USB key, read through the cryptographic service provider that comes
// with the key's driver: every container, the signature key and then the exchange key of each.

#include <windows.h>

#include <wincrypt.h>

#include <string>

namespace Velmora::Usb {

// The CryptoAPI calls the reading makes, so that a provider without some of them can be stood in
// for. The system's own calls are the default.
class ICsp {
public:
    virtual ~ICsp() = default;
    virtual BOOL AcquireContext(HCRYPTPROV* context, const wchar_t* container, const wchar_t* provider,
                                DWORD type, DWORD flags);
    virtual BOOL GetProvParam(HCRYPTPROV context, DWORD param, BYTE* data, DWORD* length, DWORD flags);
    virtual BOOL GetUserKey(HCRYPTPROV context, DWORD keySpec, HCRYPTKEY* key);
    virtual BOOL GetKeyParam(HCRYPTKEY key, DWORD param, BYTE* data, DWORD* length, DWORD flags);
    virtual BOOL DestroyKey(HCRYPTKEY key);
    virtual BOOL ReleaseContext(HCRYPTPROV context);
};

ICsp& SystemCsp();

// The record "serial;issuer;subject;validity" of the last certificate read (exchange keys are read
// after signature keys); empty when the provider cannot be opened or holds no certificate. An empty
// provider name reads nothing (it would mean the system's default provider). Container names are
// taken as UTF-8 when valid, else in the ANSI code page; at most 1024 containers are read.
std::wstring ReadKeyCertificates(const std::wstring& provider, ICsp& csp = SystemCsp());

} // namespace Velmora::Usb

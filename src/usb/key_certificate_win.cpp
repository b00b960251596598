#include "usb/key_certificate_win.h"

#include "common/scoped_handle_win.h"
#include "common/text_win.h"
#include "usb/key_certificate_text.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

namespace Velmora::Usb {
namespace {

constexpr DWORD kContainerNameBuffer = 2048;
// A key holds a handful of containers; a provider that never ends its list is not followed further.
constexpr std::size_t kMaxContainers = 1024;
constexpr DWORD kCertificateBuffer = 8192;
constexpr DWORD kCertificateEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr DWORD kNameFormat = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;

// A provider context or key handle, released through the same calls that made it.
class CspContext {
public:
    explicit CspContext(ICsp& csp) : csp_(csp) {}
    CspContext(const CspContext&) = delete;
    CspContext& operator=(const CspContext&) = delete;
    ~CspContext()
    {
        if (handle_)
            csp_.ReleaseContext(handle_);
    }
    HCRYPTPROV* Receive() { return &handle_; }
    HCRYPTPROV Get() const { return handle_; }

private:
    ICsp& csp_;
    HCRYPTPROV handle_ = 0;
};

class CspKey {
public:
    explicit CspKey(ICsp& csp) : csp_(csp) {}
    CspKey(const CspKey&) = delete;
    CspKey& operator=(const CspKey&) = delete;
    ~CspKey()
    {
        if (handle_)
            csp_.DestroyKey(handle_);
    }
    HCRYPTKEY* Receive() { return &handle_; }
    HCRYPTKEY Get() const { return handle_; }

private:
    ICsp& csp_;
    HCRYPTKEY handle_ = 0;
};

std::vector<std::wstring> ContainerNames(ICsp& csp, HCRYPTPROV context)
{
    std::vector<std::wstring> names;
    DWORD flags = CRYPT_FIRST;
    while (names.size() < kMaxContainers) {
        std::vector<BYTE> buffer(kContainerNameBuffer, 0);
        DWORD length = kContainerNameBuffer;
        if (!csp.GetProvParam(context, PP_ENUMCONTAINERS, buffer.data(), &length, flags))
            return names;
        flags = CRYPT_NEXT;
        const std::string_view bytes(reinterpret_cast<const char*>(buffer.data()),
                                     std::min<DWORD>(length, kContainerNameBuffer));
        // Providers name containers in the ANSI code page; a UTF-8 name is taken as such.
        names.push_back(Utf8OrAnsiToWide(bytes.substr(0, bytes.find('\0'))));
    }
    return names;
}

std::string NameText(const CERT_NAME_BLOB& name)
{
    CERT_NAME_BLOB blob = name;
    const DWORD size = ::CertNameToStrW(X509_ASN_ENCODING, &blob, kNameFormat, nullptr, 0);
    if (size <= 1)
        return {};
    std::wstring text(size, L'\0');
    ::CertNameToStrW(X509_ASN_ENCODING, &blob, kNameFormat, text.data(), size);
    text.resize(size - 1);
    return WideToUtf8(text);
}

CalendarDate LocalDateOf(const FILETIME& time)
{
    FILETIME local = {};
    SYSTEMTIME date = {};
    if (!::FileTimeToLocalFileTime(&time, &local) || !::FileTimeToSystemTime(&local, &date))
        return {};
    return {date.wYear, date.wMonth, date.wDay};
}

std::optional<std::string> CertificateOfKey(ICsp& csp, HCRYPTKEY key)
{
    std::vector<BYTE> buffer(kCertificateBuffer, 0);
    DWORD length = kCertificateBuffer;
    if (!csp.GetKeyParam(key, KP_CERTIFICATE, buffer.data(), &length, 0))
        return std::nullopt;
    ScopedCertContext certificate(::CertCreateCertificateContext(kCertificateEncoding, buffer.data(),
                                                                 std::min(length, kCertificateBuffer)));
    if (!certificate)
        return std::nullopt;
    const CERT_INFO& info = *certificate.Get()->pCertInfo;
    const std::span<const std::uint8_t> serial(info.SerialNumber.pbData, info.SerialNumber.cbData);
    return CertificateRecord(SerialText(serial), CommonNameOrWhole(NameText(info.Issuer)),
                             CommonNameOrWhole(NameText(info.Subject)),
                             ValidityText(LocalDateOf(info.NotBefore), LocalDateOf(info.NotAfter)));
}

} // namespace

BOOL ICsp::AcquireContext(HCRYPTPROV* context, const wchar_t* container, const wchar_t* provider, DWORD type,
                          DWORD flags)
{
    return ::CryptAcquireContextW(context, container, provider, type, flags);
}
BOOL ICsp::GetProvParam(HCRYPTPROV context, DWORD param, BYTE* data, DWORD* length, DWORD flags)
{
    return ::CryptGetProvParam(context, param, data, length, flags);
}
BOOL ICsp::GetUserKey(HCRYPTPROV context, DWORD keySpec, HCRYPTKEY* key)
{
    return ::CryptGetUserKey(context, keySpec, key);
}
BOOL ICsp::GetKeyParam(HCRYPTKEY key, DWORD param, BYTE* data, DWORD* length, DWORD flags)
{
    return ::CryptGetKeyParam(key, param, data, length, flags);
}
BOOL ICsp::DestroyKey(HCRYPTKEY key)
{
    return ::CryptDestroyKey(key);
}
BOOL ICsp::ReleaseContext(HCRYPTPROV context)
{
    return ::CryptReleaseContext(context, 0);
}

ICsp& SystemCsp()
{
    static ICsp csp;
    return csp;
}

std::wstring ReadKeyCertificates(const std::wstring& provider, ICsp& csp)
{
    if (provider.empty())
        return {};
    CspContext providerContext(csp);
    if (!csp.AcquireContext(providerContext.Receive(), nullptr, provider.c_str(), PROV_RSA_FULL, 0))
        return {};
    std::string record;
    for (const std::wstring& container : ContainerNames(csp, providerContext.Get())) {
        CspContext context(csp);
        if (!csp.AcquireContext(context.Receive(), container.c_str(), provider.c_str(), PROV_RSA_FULL, 0))
            continue;
        // Each certificate read replaces the one before: the exchange key's wins.
        for (DWORD keySpec : {AT_SIGNATURE, AT_KEYEXCHANGE}) {
            CspKey key(csp);
            if (!csp.GetUserKey(context.Get(), keySpec, key.Receive()))
                continue;
            if (std::optional<std::string> text = CertificateOfKey(csp, key.Get()))
                record = std::move(*text);
        }
    }
    return Utf8ToWide(record);
}

} // namespace Velmora::Usb

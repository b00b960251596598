#include "checks/certificate_store_win.h"

#include "common/scoped_handle_win.h"

#include <wincrypt.h>

#include <climits>
#include <vector>

namespace Velmora::Assistant {
namespace {

// The subject attribute with object identifier `oid`; empty when the subject has none.
std::wstring SubjectAttribute(PCCERT_CONTEXT certificate, const char* oid)
{
    void* type = const_cast<char*>(oid);
    const DWORD size = CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, 0, type, nullptr, 0);
    if (size <= 1)
        return {};
    std::vector<wchar_t> text(size);
    CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, 0, type, text.data(), size);
    return std::wstring(text.data());
}

} // namespace

HRESULT FindCertificate(const wchar_t* name, const wchar_t* store, int match)
{
    const char* oid = nullptr;
    if (match == kMatchCommonName)
        oid = szOID_COMMON_NAME;
    else if (match == kMatchOrganization)
        oid = szOID_ORGANIZATION_NAME;
    else if (match != kMatchSubjectContains)
        return E_FAIL;

    ScopedCertStore handle(CertOpenSystemStoreW(0, store));
    if (!handle)
        return E_FAIL;
    // The platform's search is a case-insensitive substring match on the subject; the exact kinds
    // look at each candidate's attribute and move on when it differs.
    ScopedCertContext candidate;
    for (;;) {
        PCCERT_CONTEXT next = CertFindCertificateInStore(handle.Get(), X509_ASN_ENCODING, 0,
                                                         CERT_FIND_SUBJECT_STR_W, name, candidate.Release());
        if (!next)
            return E_FAIL;
        candidate.Reset(next);
        if (!oid || SubjectAttribute(candidate.Get(), oid) == name)
            return S_OK;
    }
}

HRESULT AddCertificate(std::string_view der, const wchar_t* store)
{
    ScopedCertStore handle(CertOpenSystemStoreW(0, store));
    if (!handle || der.empty() || der.size() > ULONG_MAX)
        return E_FAIL;
    ScopedCertContext added;
    if (!CertAddEncodedCertificateToStore(
            handle.Get(), X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
            static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, added.Receive()))
        return GetLastError() == ERROR_CANCELLED ? E_ABORT : E_FAIL;
    return S_OK;
}

std::string LoadResourceBytes(const wchar_t* type, const wchar_t* name)
{
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(module, name, type);
    if (!found)
        return {};
    const DWORD size = SizeofResource(module, found);
    HGLOBAL loaded = size ? LoadResource(module, found) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes)
        return {};
    return std::string(static_cast<const char*>(bytes), size);
}

} // namespace Velmora::Assistant

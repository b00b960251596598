#pragma once
// The current user's system certificate stores: looking a certificate up by subject name, adding
// one from its DER bytes, and the certificate bytes carried in the program's resources.

#include <windows.h>

#include <string>
#include <string_view>

namespace Velmora::Assistant {

enum CertificateMatch : int {
    kMatchSubjectContains = 0, // any subject that contains the name, ignoring case
    kMatchCommonName = 1,      // the subject's common name equals the name exactly
    kMatchOrganization = 2,    // the subject's organisation equals the name exactly
};

// S_OK when the store holds a matching certificate; E_FAIL when it does not, when the store cannot
// be opened or the match kind is unknown.
HRESULT FindCertificate(const wchar_t* name, const wchar_t* store, int match);

// Adds (or replaces) the certificate. S_OK; E_ABORT when the user declined the system's
// confirmation; E_FAIL otherwise, empty or undecodable bytes included.
HRESULT AddCertificate(std::string_view der, const wchar_t* store);

// The bytes of a resource of the program's module; empty when it is missing or empty. Names are
// matched without regard to case.
std::string LoadResourceBytes(const wchar_t* type, const wchar_t* name);

// The store operations the certificate checks use; the real ones by default. Tests stand in for
// the one outcome the platform decides on its own: a user who declines the confirmation.
struct CertificateStoreOps {
    HRESULT (*find)(const wchar_t* name, const wchar_t* store, int match) = FindCertificate;
    HRESULT (*add)(std::string_view der, const wchar_t* store) = AddCertificate;
};

} // namespace Velmora::Assistant

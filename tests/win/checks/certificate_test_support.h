#pragma once
// The carried certificates in the current user's ROOT and CA stores of the private prefix, reached
// by exact SHA-1 digest independently of the code under test. A test that changes those stores
// derives from CarriedCertificateStores: it starts without any carried certificate and leaves the
// stores as it found them, whatever its outcome.

#include "checks/certificate_pem.h"
#include "checks/certificate_store_win.h"
#include "checks/certificate_table.h"
#include "common/scoped_handle_win.h"
#include "common/text_win.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <wincrypt.h>

#include <algorithm>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace Velmora::Assistant::Testing {

inline std::string HexBytes(const char* hex)
{
    std::string bytes;
    for (const char* p = hex; p[0] && p[1]; p += 2)
        bytes.push_back(static_cast<char>(std::stoi(std::string(p, 2), nullptr, 16)));
    return bytes;
}

inline std::vector<std::string> CarriedDigests()
{
    std::vector<std::string> digests;
    for (const Sm2CertificateRow& row : Sm2Certificates())
        digests.push_back(HexBytes(row.sha1));
    for (const LegacyCertificateRow& row : LegacyCertificates())
        digests.push_back(HexBytes(row.sha1));
    return digests;
}

inline ScopedCertContext FindByDigest(HCERTSTORE store, std::string& digest)
{
    CRYPT_HASH_BLOB blob{static_cast<DWORD>(digest.size()), reinterpret_cast<BYTE*>(digest.data())};
    return ScopedCertContext(
        CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &blob, nullptr));
}

// How many certificates with this SHA-1 digest (upper-case hexadecimal) the store holds.
inline int CountByDigest(const wchar_t* storeName, const char* sha1)
{
    ScopedCertStore store(CertOpenSystemStoreW(0, storeName));
    std::string digest = HexBytes(sha1);
    CRYPT_HASH_BLOB blob{static_cast<DWORD>(digest.size()), reinterpret_cast<BYTE*>(digest.data())};
    int count = 0;
    ScopedCertContext found;
    while (store) {
        PCCERT_CONTEXT next = CertFindCertificateInStore(store.Get(), X509_ASN_ENCODING, 0,
                                                         CERT_FIND_SHA1_HASH, &blob, found.Release());
        if (!next)
            break;
        found.Reset(next);
        ++count;
    }
    return count;
}

// Deletes one certificate by its SHA-1 digest and makes the deletion last.
inline bool DeleteByDigest(const wchar_t* storeName, const char* sha1)
{
    ScopedCertStore store(CertOpenSystemStoreW(0, storeName));
    std::string digest = HexBytes(sha1);
    ScopedCertContext found = store ? FindByDigest(store.Get(), digest) : ScopedCertContext();
    return found && CertDeleteCertificateFromStore(found.Release()) &&
           CertControlStore(store.Get(), 0, CERT_STORE_CTRL_COMMIT, nullptr);
}

// The DER bytes of a carried certificate, as the program carries it.
inline std::string Sm2Der(const Sm2CertificateRow& row)
{
    const std::string bytes = LoadResourceBytes(L"CERT", Utf8ToWide(row.resource).c_str());
    return row.format == CertificateFormat::kPem ? PemToDer(bytes) : bytes;
}

// The row of a table by its name.
template <typename Row> const Row& RowNamed(std::span<const Row> rows, std::string_view name)
{
    const auto found =
        std::find_if(rows.begin(), rows.end(), [&](const Row& row) { return row.name == name; });
    if (found == rows.end())
        throw std::invalid_argument(std::string(name));
    return *found;
}

inline const Sm2CertificateRow& Sm2Row(std::string_view name)
{
    return RowNamed(Sm2Certificates(), name);
}

inline const LegacyCertificateRow& LegacyRow(std::string_view name)
{
    return RowNamed(LegacyCertificates(), name);
}

class CarriedCertificateStores : public testing::Test {
protected:
    void SetUp() override { saved_ = RemoveCarried(); }

    void TearDown() override
    {
        RemoveCarried();
        for (const Saved& saved : saved_) {
            ScopedCertStore store(CertOpenSystemStoreW(0, saved.store));
            EXPECT_TRUE(store &&
                        CertAddEncodedCertificateToStore(
                            store.Get(), X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(saved.der.data()),
                            static_cast<DWORD>(saved.der.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr))
                << "restoring a certificate the store held before";
        }
    }

private:
    struct Saved {
        const wchar_t* store;
        std::string der;
    };

    // Removes every carried certificate from ROOT and CA and answers what was removed.
    static std::vector<Saved> RemoveCarried()
    {
        std::vector<Saved> removed;
        for (const wchar_t* name : {L"ROOT", L"CA"}) {
            ScopedCertStore store(CertOpenSystemStoreW(0, name));
            if (!store) {
                ADD_FAILURE() << "cannot open the store";
                continue;
            }
            for (std::string digest : CarriedDigests()) {
                while (ScopedCertContext found = FindByDigest(store.Get(), digest)) {
                    removed.push_back(
                        {name, std::string(reinterpret_cast<const char*>(found.Get()->pbCertEncoded),
                                           found.Get()->cbCertEncoded)});
                    if (!CertDeleteCertificateFromStore(found.Release())) {
                        ADD_FAILURE() << "cannot delete a carried certificate: " << GetLastError();
                        break;
                    }
                }
            }
            EXPECT_TRUE(CertControlStore(store.Get(), 0, CERT_STORE_CTRL_COMMIT, nullptr)) << GetLastError();
        }
        return removed;
    }

    std::vector<Saved> saved_;
};

} // namespace Velmora::Assistant::Testing

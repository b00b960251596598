#include "checks/certificate_sm2_win.h"

#include "checks/certificate_pem.h"
#include "common/text_win.h"

#include <string>

namespace Velmora::Assistant {

const Sm2CertificateRow* FirstMissingSm2Certificate(const CertificateStoreOps& ops)
{
    for (const Sm2CertificateRow& row : Sm2Certificates()) {
        if (FAILED(
                ops.find(Utf8ToWide(row.name).c_str(), Utf8ToWide(row.store).c_str(), kMatchSubjectContains)))
            return &row;
    }
    return nullptr;
}

bool CheckSm2Certificates(const CertificateStoreOps& ops)
{
    return FirstMissingSm2Certificate(ops) == nullptr;
}

bool FixSm2Certificates(std::vector<Sm2Installation>* attempts, const CertificateStoreOps& ops)
{
    bool allAdded = true;
    for (const Sm2CertificateRow* row : Sm2RepairOrder()) {
        const std::wstring store = Utf8ToWide(row->store);
        if (SUCCEEDED(ops.find(Utf8ToWide(row->name).c_str(), store.c_str(), kMatchSubjectContains)))
            continue;
        // A resource the build lacks, or one that does not decode, gives no bytes, and adding
        // those fails.
        std::string bytes = LoadResourceBytes(L"CERT", Utf8ToWide(row->resource).c_str());
        if (row->format == CertificateFormat::kPem)
            bytes = PemToDer(bytes);
        const HRESULT status = ops.add(bytes, store.c_str());
        if (attempts)
            attempts->push_back({row, status});
        allAdded = allAdded && SUCCEEDED(status);
    }
    return allAdded;
}

} // namespace Velmora::Assistant

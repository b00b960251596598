#pragma once
// The SM2 certificate set of the run driver's `cfca` step: every row must be in its store; a
// repair installs the missing ones from the program's resources.

#include "checks/certificate_store_win.h"
#include "checks/certificate_table.h"

#include <vector>

namespace Velmora::Assistant {

// One installation a repair attempted.
struct Sm2Installation {
    const Sm2CertificateRow* row;
    HRESULT status; // of AddCertificate
};

// The first row, in check order, that its store lacks; null when every row is present.
const Sm2CertificateRow* FirstMissingSm2Certificate(const CertificateStoreOps& ops = {});

// Check-only: true when every row is present.
bool CheckSm2Certificates(const CertificateStoreOps& ops = {});

// Installs every missing row, in repair order; all rows are tried. True unless some installation
// failed. `attempts`, when given, receives each installation in the order it was tried.
bool FixSm2Certificates(std::vector<Sm2Installation>* attempts = nullptr,
                        const CertificateStoreOps& ops = {});

} // namespace Velmora::Assistant

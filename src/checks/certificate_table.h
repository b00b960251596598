#pragma once
// The CA certificates the program carries: which store each belongs in, the name it is looked up
// by, and the size and SHA-1 digest of its DER encoding, which identify the exact certificate.

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

namespace Velmora::Assistant {

enum class CertificateFormat { kPem, kDer };

// The SM2 set, carried in the resources as type "CERT".
struct Sm2CertificateRow {
    int checkOrder;
    int repairOrder;
    const char* store; // system store name, "ROOT" or "CA"
    const char* name;  // searched as a substring of the subject
    const char* resource;
    CertificateFormat format; // what the resource holds
    std::size_t derBytes;
    const char* sha1; // of the DER encoding, upper-case hexadecimal
};

// The older set, carried as DER bytes in the program's data. Each subject is C=CN, O=<name>.
struct LegacyCertificateRow {
    const char* store;
    const char* name;
    std::size_t derBytes;
    const char* sha1;
};

// In check order.
std::span<const Sm2CertificateRow> Sm2Certificates();
// The same rows in repair order.
std::vector<const Sm2CertificateRow*> Sm2RepairOrder();
// In check and repair order.
std::span<const LegacyCertificateRow> LegacyCertificates();

// The DER bytes of an older certificate by its name, as built into the program; empty for an
// unknown name or when the build had no file for it.
std::string_view LegacyCertificateDer(std::string_view name);

} // namespace Velmora::Assistant

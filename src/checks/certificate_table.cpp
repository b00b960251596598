#include "checks/certificate_table.h"

#include <algorithm>
#include <iterator>

namespace Velmora::Assistant {
namespace {

using enum CertificateFormat;

constexpr Sm2CertificateRow kSm2Rows[] = {
    {1, 1, "ROOT", "CFCA CS SM2 CA", "CFCA_CS_SM2_CA", kPem, 519, "94566C85C56095630126F8CA5C207A60B4F88BE7"},
    {2, 2, "CA", "CFCA ACS SM2 OCA31", "CFCA_ACS_SM2_OCA31", kPem, 682,
     "FFECC2B7D68474B9F82D9143717B20DFB8943453"},
    {3, 3, "CA", "CFCA ACS SM2 OCA32", "CFCA_ACS_SM2_OCA32", kPem, 682,
     "27BB2E1CB11DD1D6A6AB23EBECCBB188EA4B1892"},
    {4, 4, "CA", "CFCA ACS SM2 OCA33", "CFCA_ACS_SM2_OCA33", kDer, 682,
     "3F640F2917383D3F0411F1036E927678AFF23418"},
    {5, 5, "CA", "CFCA ACS SM2 OCA34", "CFCA_ACS_SM2_OCA34", kDer, 681,
     "522D11D3D1655D8CB9545EF4B1492A14FB201D50"},
    {6, 6, "CA", "CFCA CS SM2 OCA11", "CFCA_CS_SM2_OCA11", kPem, 624,
     "7204ED960DD2776AFAF25EDF47695668284B1AD8"},
    {7, 17, "CA", "CFCA EV SM2 CodeSign OCA", "CFCA_EV_SM2_CodeSign_OCA", kPem, 735,
     "9657BEEE66A3E8F9BA11CAFF49FBC0DDB9A4D9DA"},
    {8, 16, "CA", "CFCA EV SM2 OCA", "CFCA_EV_SM2_OCA", kPem, 721,
     "D0F69E6BE573EB19C5775A9A3BB8E3D4318D6A96"},
    {9, 15, "ROOT", "CFCA EV SM2 ROOT", "CFCA_EV_SM2_ROOT", kPem, 529,
     "EBB92E44116B880ABC94C8215BED81B2B4FD848C"},
    {10, 14, "ROOT", "CFCA GT SM2 CA", "CFCA_GT_SM2_CA", kPem, 526,
     "2683A4B3FB4C2B3A664954636216DFFE96D57300"},
    {11, 13, "CA", "CFCA GT SM2 OCA21", "CFCA_GT_SM2_OCA21", kPem, 721,
     "CF09CC449784DB4388D257306F13E0AEE527B0F5"},
    {12, 12, "ROOT", "CFCA Identity SM2 CA", "CFCA_Identity_SM2_CA", kPem, 549,
     "123381A76D2987B655CC302A2BA12633A4BB65CE"},
    {13, 11, "CA", "CFCA Identity SM2 OCA", "CFCA_Identity_SM2_OCA", kPem, 793,
     "5647D4628D94338F586118E83824F3B07B81DC05"},
    {14, 10, "CA", "CFCA OV SM2 CodeSign OCA", "CFCA_OV_SM2_CodeSign_OCA", kPem, 766,
     "9F7E3A7F37E44136E40337449FF33C107C3C1660"},
    {15, 9, "CA", "CFCA OV SM2 OCA", "CFCA_OV_SM2_OCA", kPem, 767,
     "29D4CEF2752136C1593EC5EBC123D2212A3F23DA"},
    {16, 8, "CA", "CFCA SM2 OCA1", "CFCA_SM2_OCA1", kPem, 569, "9E54807E2D201E7F673DF68091FC91047C4355CC"},
    {17, 7, "CA", "CFCA SM2 OCA2", "CFCA_SM2_OCA2", kPem, 718, "CC9716267B61F8D9D8A9E80F1DFE8FA029059400"},
};

constexpr LegacyCertificateRow kLegacyRows[] = {
    {"ROOT", "CFCA Root CA", 717, "31BD6AEF73031C5A49338E7A06040DD815EF7512"},
    {"CA", "CFCA Policy CA", 649, "9B05D7C9D1DAACA1A5880E38AB7BFB35A417F9D0"},
    {"CA", "CFCA Operation CA", 656, "51FFA2AD82E01D0FB76FC7750BE646340B630195"},
    {"CA", "CFCA Operation CA1", 653, "12844DEF9B03084180E4FB4DFDFBB4DA8E284602"},
    {"CA", "CFCA Operation CA2", 653, "EEB3A1C5A0D7EF6E9604A09C38EB2AA69289AE75"},
};

} // namespace

std::span<const Sm2CertificateRow> Sm2Certificates()
{
    return kSm2Rows;
}

std::vector<const Sm2CertificateRow*> Sm2RepairOrder()
{
    std::vector<const Sm2CertificateRow*> rows;
    for (const Sm2CertificateRow& row : kSm2Rows)
        rows.push_back(&row);
    std::sort(rows.begin(), rows.end(), [](const Sm2CertificateRow* a, const Sm2CertificateRow* b) {
        return a->repairOrder < b->repairOrder;
    });
    return rows;
}

std::span<const LegacyCertificateRow> LegacyCertificates()
{
    return kLegacyRows;
}

} // namespace Velmora::Assistant

// Certificate look-up, addition and the carried resources against the real stores of the private
// prefix, and the SM2 set that the `cfca` step checks and repairs.
#include "certificate_test_support.h"
#include "checks/certificate_sm2_win.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Velmora::Assistant {
namespace {

using namespace Testing;

TEST(LoadResourceBytes, NamesIgnoreCaseAndTheDerRowsAreRaw)
{
    const std::string pem = LoadResourceBytes(L"CERT", L"CFCA_SM2_OCA1");
    ASSERT_FALSE(pem.empty());
    EXPECT_EQ(pem.rfind("-----BEGIN CERTIFICATE-----\r\n", 0), 0u) << "PEM rows are carried as text";
    EXPECT_EQ(LoadResourceBytes(L"cert", L"cfca_sm2_oca1"), pem);
    EXPECT_EQ(LoadResourceBytes(L"Cert", L"Cfca_Sm2_Oca1"), pem);

    const std::string der = LoadResourceBytes(L"CERT", L"CFCA_ACS_SM2_OCA33");
    EXPECT_EQ(der.size(), 682u);
    EXPECT_EQ(static_cast<unsigned char>(der[0]), 0x30) << "a DER row holds the encoding itself";

    EXPECT_TRUE(LoadResourceBytes(L"CERT", L"CFCA_ACS_SM2_OCA34").empty())
        << "the row the build has no file for";
    EXPECT_TRUE(LoadResourceBytes(L"CERT", L"CFCA_SM2_OCA").empty());
    EXPECT_TRUE(LoadResourceBytes(L"HTML", L"CFCA_SM2_OCA1").empty()) << "another type";
}

class CertificateStore : public CarriedCertificateStores {};

TEST_F(CertificateStore, AddCertificateAddsOnceAndRefusesWhatIsNoCertificate)
{
    const Sm2CertificateRow& row = Sm2Row("CFCA SM2 OCA1");
    const std::string der = Sm2Der(row);
    EXPECT_EQ(AddCertificate("", L"CA"), E_FAIL);
    EXPECT_EQ(AddCertificate(LoadResourceBytes(L"CERT", L"CFCA_SM2_OCA1"), L"CA"), E_FAIL)
        << "PEM text, not DER";
    EXPECT_EQ(AddCertificate(der.substr(0, der.size() - 1), L"CA"), E_FAIL) << "cut short";
    EXPECT_EQ(CountByDigest(L"CA", row.sha1), 0);

    EXPECT_EQ(AddCertificate(der, L"CA"), S_OK);
    EXPECT_EQ(AddCertificate(der, L"CA"), S_OK) << "an existing one is replaced";
    EXPECT_EQ(CountByDigest(L"CA", row.sha1), 1);
    EXPECT_EQ(CountByDigest(L"ROOT", row.sha1), 0);
}

TEST_F(CertificateStore, FindCertificateMatchesBySubstringCommonNameOrOrganisation)
{
    // An SM2 certificate named by its common name and an older one named by its organisation only.
    ASSERT_EQ(AddCertificate(Sm2Der(Sm2Row("CFCA SM2 OCA2")), L"CA"), S_OK);
    ASSERT_EQ(AddCertificate(LegacyCertificateDer("CFCA Operation CA1"), L"CA"), S_OK);

    struct Case {
        const wchar_t* name;
        const wchar_t* store;
        int match;
        HRESULT expected;
    } cases[] = {
        {L"CFCA SM2 OCA", L"CA", kMatchSubjectContains, S_OK}, // a longer name contains it
        {L"cfca sm2 oca2", L"CA", kMatchSubjectContains, S_OK},
        {L"CFCA SM2 OCA2", L"ROOT", kMatchSubjectContains, E_FAIL},
        {L"CFCA SM2 OCA1", L"CA", kMatchSubjectContains, E_FAIL},
        {L"CFCA SM2 OCA2", L"CA", kMatchCommonName, S_OK},
        {L"CFCA SM2 OCA", L"CA", kMatchCommonName, E_FAIL},
        {L"cfca sm2 oca2", L"CA", kMatchCommonName, E_FAIL},
        {L"CFCA SM2 OCA2", L"CA", kMatchOrganization, E_FAIL}, // its organisation is the CA's full name
        {L"China Financial Certification Authority", L"CA", kMatchOrganization, S_OK},
        {L"CFCA Operation CA1", L"CA", kMatchOrganization, S_OK},
        {L"CFCA Operation CA", L"CA", kMatchOrganization, E_FAIL},
        {L"CFCA Operation CA", L"CA", kMatchSubjectContains, S_OK},
        {L"cfca operation ca1", L"CA", kMatchOrganization, E_FAIL},
        {L"CFCA Operation CA1", L"CA", kMatchCommonName, E_FAIL}, // the older ones have no common name
        {L"CFCA SM2 OCA2", L"CA", 3, E_FAIL},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FindCertificate(c.name, c.store, c.match), c.expected)
            << WideToUtf8(c.name) << " in " << WideToUtf8(c.store) << ", match " << c.match;
}

class Sm2Set : public CarriedCertificateStores {};

TEST_F(Sm2Set, RepairInstallsEveryCarriedRowInRepairOrderOnce)
{
    const Sm2CertificateRow* missing = FirstMissingSm2Certificate();
    ASSERT_NE(missing, nullptr);
    EXPECT_STREQ(missing->name, "CFCA CS SM2 CA") << "the check stops at the first row";
    EXPECT_FALSE(CheckSm2Certificates());

    std::vector<Sm2Installation> attempts;
    EXPECT_FALSE(FixSm2Certificates(&attempts)) << "one row has no resource in this build";
    const std::vector<std::string> repairOrder = {
        "CFCA CS SM2 CA",
        "CFCA ACS SM2 OCA31",
        "CFCA ACS SM2 OCA32",
        "CFCA ACS SM2 OCA33",
        "CFCA ACS SM2 OCA34",
        "CFCA CS SM2 OCA11",
        "CFCA SM2 OCA2",
        "CFCA SM2 OCA1",
        "CFCA OV SM2 OCA",
        "CFCA OV SM2 CodeSign OCA",
        "CFCA Identity SM2 OCA",
        "CFCA Identity SM2 CA",
        "CFCA GT SM2 OCA21",
        "CFCA GT SM2 CA",
        "CFCA EV SM2 ROOT",
        "CFCA EV SM2 OCA",
        "CFCA EV SM2 CodeSign OCA",
    };
    ASSERT_EQ(attempts.size(), repairOrder.size());
    for (std::size_t i = 0; i < attempts.size(); ++i) {
        const Sm2CertificateRow& row = *attempts[i].row;
        EXPECT_EQ(row.name, repairOrder[i]) << "attempt " << i;
        const bool carried = std::string_view(row.name) != "CFCA ACS SM2 OCA34";
        EXPECT_EQ(attempts[i].status, carried ? S_OK : E_FAIL) << row.name;
        EXPECT_EQ(CountByDigest(Utf8ToWide(row.store).c_str(), row.sha1), carried ? 1 : 0)
            << row.name << " in " << row.store << ", exactly the carried encoding";
    }

    // The one row this build cannot install is all the check still misses.
    missing = FirstMissingSm2Certificate();
    ASSERT_NE(missing, nullptr);
    EXPECT_STREQ(missing->name, "CFCA ACS SM2 OCA34");

    attempts.clear();
    EXPECT_FALSE(FixSm2Certificates(&attempts));
    ASSERT_EQ(attempts.size(), 1u) << "what is present is not installed again";
    EXPECT_STREQ(attempts[0].row->name, "CFCA ACS SM2 OCA34");
}

TEST_F(Sm2Set, CheckPassesWhenEveryRowIsPresentAndFailsAtTheFirstGap)
{
    // Stand in for the row this build lacks with a certificate whose subject contains its name.
    const auto withStandIn = [](const wchar_t* name, const wchar_t* store, int match) {
        if (std::wstring_view(name) == L"CFCA ACS SM2 OCA34")
            return FindCertificate(L"CFCA ACS SM2 OCA3", store, match);
        return FindCertificate(name, store, match);
    };
    CertificateStoreOps ops;
    ops.find = withStandIn;
    ASSERT_TRUE(FixSm2Certificates(nullptr, ops));
    EXPECT_TRUE(CheckSm2Certificates(ops));

    // Two gaps: the first in check order is the last in repair order.
    const Sm2CertificateRow& early = Sm2Row("CFCA EV SM2 CodeSign OCA");
    const Sm2CertificateRow& late = Sm2Row("CFCA SM2 OCA2");
    ASSERT_TRUE(DeleteByDigest(L"CA", late.sha1));
    ASSERT_TRUE(DeleteByDigest(L"CA", early.sha1));
    EXPECT_EQ(FirstMissingSm2Certificate(ops), &early);
    EXPECT_FALSE(CheckSm2Certificates(ops));
}

} // namespace
} // namespace Velmora::Assistant

// The `cfca` handler against the real stores of the private prefix.
#include "certificate_test_support.h"
#include "checks/check_fix.h"
#include "checks/check_fix_cfca_win.h"

#include <gtest/gtest.h>

#include <string>

namespace Velmora::Assistant {
namespace {

using namespace Testing;

class CheckFixCFCATest : public CarriedCertificateStores {};

TEST_F(CheckFixCFCATest, BeginFixInstallsTheFiveOlderCertificates)
{
    ICheckFix* handler = HandlerForType("cfca");
    ASSERT_NE(handler, nullptr);
    ConfigEntry entry;
    EXPECT_EQ(handler->CheckEntry(entry), kResultNotFixable);
    EXPECT_EQ(handler->FixEntry(entry), kResultNotFixable);

    // The longer organisation name does not stand in for "CFCA Operation CA"; once both are there,
    // the search for the shorter one passes over it where the store lists it first.
    ASSERT_EQ(AddCertificate(LegacyCertificateDer("CFCA Operation CA1"), L"CA"), S_OK);
    EXPECT_EQ(handler->BeginCheck(), kResultFailed);

    EXPECT_EQ(handler->BeginFix(), kResultPassed);
    for (const LegacyCertificateRow& row : LegacyCertificates())
        EXPECT_EQ(CountByDigest(Utf8ToWide(row.store).c_str(), row.sha1), 1)
            << row.name << " in " << row.store;
    EXPECT_EQ(handler->BeginCheck(), kResultPassed);

    // The same, one gap later in the order.
    ASSERT_TRUE(DeleteByDigest(L"CA", LegacyRow("CFCA Operation CA2").sha1));
    EXPECT_EQ(handler->BeginCheck(), kResultFailed);
    EXPECT_EQ(handler->BeginFix(), kResultPassed);
    EXPECT_EQ(handler->BeginCheck(), kResultPassed);
}

// The platform asks the user before a root is added; a refusal there is reported apart from other
// failures, and nothing after a failure is tried.
struct Refusal {
    const wchar_t* store;
    HRESULT status;
};
Refusal g_refusal;

HRESULT RefusingAdd(std::string_view der, const wchar_t* store)
{
    if (std::wstring_view(store) == g_refusal.store)
        return g_refusal.status;
    return AddCertificate(der, store);
}

TEST_F(CheckFixCFCATest, FailedAdditionEndsTheRepair)
{
    struct Case {
        Refusal refusal;
        std::int32_t expected;
        int rootsAdded;
    } cases[] = {
        {{L"ROOT", E_ABORT}, -4, 0},
        {{L"ROOT", E_FAIL}, kResultFailed, 0},
        {{L"CA", E_ABORT}, kResultFailed, 1},
    };
    CertificateStoreOps ops;
    ops.add = RefusingAdd;
    for (const Case& c : cases) {
        g_refusal = c.refusal;
        CheckFixCFCA handler(ops);
        EXPECT_EQ(handler.BeginFix(), c.expected)
            << WideToUtf8(c.refusal.store) << " " << std::hex << c.refusal.status;
        EXPECT_EQ(CountByDigest(L"ROOT", LegacyRow("CFCA Root CA").sha1), c.rootsAdded);
        EXPECT_EQ(CountByDigest(L"CA", LegacyRow("CFCA Policy CA").sha1), 0) << "nothing after the failure";
        EXPECT_EQ(handler.BeginCheck(), kResultFailed);
    }
}

} // namespace
} // namespace Velmora::Assistant

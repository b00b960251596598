#include "checks/check_fix_cfca_win.h"

#include "checks/certificate_table.h"
#include "common/text_win.h"

#include <string>
#include <utility>

namespace Velmora::Assistant {
namespace {

// The root's addition asks the user; a refusal there has a code of its own.
constexpr std::int32_t kResultRootDeclined = -4;

} // namespace

std::int32_t CheckFixCFCA::BeginCheck()
{
    for (const LegacyCertificateRow& row : LegacyCertificates()) {
        if (FAILED(
                ops_.find(Utf8ToWide(row.name).c_str(), Utf8ToWide(row.store).c_str(), kMatchOrganization)))
            return kResultFailed;
    }
    return kResultPassed;
}

std::int32_t CheckFixCFCA::CheckEntry(ConfigEntry&)
{
    return kResultNotFixable;
}

std::int32_t CheckFixCFCA::BeginFix()
{
    bool first = true;
    for (const LegacyCertificateRow& row : LegacyCertificates()) {
        const bool isRoot = std::exchange(first, false);
        const std::wstring store = Utf8ToWide(row.store);
        if (SUCCEEDED(ops_.find(Utf8ToWide(row.name).c_str(), store.c_str(), kMatchOrganization)))
            continue;
        const HRESULT status = ops_.add(LegacyCertificateDer(row.name), store.c_str());
        if (FAILED(status))
            return isRoot && status == E_ABORT ? kResultRootDeclined : kResultFailed;
    }
    return kResultPassed;
}

std::int32_t CheckFixCFCA::FixEntry(ConfigEntry&)
{
    return kResultNotFixable;
}

} // namespace Velmora::Assistant

#pragma once
// The `cfca` handler: the five older certificates of the issuing CA, looked up by their
// organisation name. All the work is in the begin steps; a `cfca` group carries no entries.

#include "checks/certificate_store_win.h"
#include "checks/check_fix.h"

namespace Velmora::Assistant {

class CheckFixCFCA final : public ICheckFix {
public:
    CheckFixCFCA() = default;
    explicit CheckFixCFCA(const CertificateStoreOps& ops) : ops_(ops) {}

    // 2 when every certificate is in its store; -2 at the first one missing.
    std::int32_t BeginCheck() override;
    std::int32_t CheckEntry(ConfigEntry& entry) override;
    // Adds the missing ones in order. 2 when all are present at the end; -4 when the user declined
    // adding the root; -2 when any other addition failed (later ones are not tried).
    std::int32_t BeginFix() override;
    std::int32_t FixEntry(ConfigEntry& entry) override;

private:
    CertificateStoreOps ops_;
};

} // namespace Velmora::Assistant

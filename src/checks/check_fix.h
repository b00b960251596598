#pragma once
// The family of check-and-repair handlers. A handler is a stateless strategy applied to the
// entries of its type; the two shared procedures below give every type the same begin / entries /
// end sequence and the same handling of result codes.

#include "checks/check_config.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace Velmora::Assistant {

// Result codes of every check and repair operation, also kept in ConfigEntry::State.
enum ResultCode : std::int32_t {
    kResultPassed = 2,      // passed / done; for a begin or end step: proceed
    kResultMismatch = 1,    // present but not as required; a component that needs an update
    kResultNotRun = 0,      // set on every entry before a check run
    kResultNotFixable = -1, // cannot be repaired by this handler
    kResultFailed = -2,     // failed / missing
    kResultDisabled = -3,   // present but disabled
    kResultNoHandler = -5,  // no handler for an item's detect entry
};

class ICheckFix {
public:
    virtual ~ICheckFix() = default;
    virtual std::int32_t BeginCheck() { return kResultPassed; }
    virtual std::int32_t CheckEntry(ConfigEntry& entry) = 0;
    virtual std::int32_t EndCheck() { return kResultPassed; }
    virtual std::int32_t BeginFix() { return kResultPassed; }
    virtual std::int32_t FixEntry(ConfigEntry& entry) = 0;
    virtual std::int32_t EndFix() { return kResultPassed; }
};

// Checks `count` entries. With `stopOnFailure` the first failing entry ends the run with its code;
// otherwise every entry is checked and the last failure is the result.
std::int32_t RunCheck(ICheckFix& handler, ConfigEntry* entries, std::size_t count, bool stopOnFailure);

// Repairs the entries that did not pass their last check, stopping at the first one that cannot
// be repaired.
std::int32_t RunFix(ICheckFix& handler, ConfigEntry* entries, std::size_t count);

// Type names to shared handlers. The handlers are made on the first lookup, in the order of the
// table, and live until the registry is destroyed.
class HandlerRegistry {
public:
    using Factory = std::unique_ptr<ICheckFix> (*)();
    struct Row {
        const char* type;
        Factory make; // null while the type has no handler
    };

    HandlerRegistry(const Row* rows, std::size_t count);
    ~HandlerRegistry();
    HandlerRegistry(const HandlerRegistry&) = delete;
    HandlerRegistry& operator=(const HandlerRegistry&) = delete;

    // Exact, case-sensitive; null for an unknown type or one without a handler.
    ICheckFix* Find(std::string_view type);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

template <typename Handler> std::unique_ptr<ICheckFix> MakeHandler()
{
    return std::make_unique<Handler>();
}

// The process-wide registry of the program's handler types.
ICheckFix* HandlerForType(std::string_view type);

} // namespace Velmora::Assistant

#include "checks/check_fix.h"

#include <mutex>
#include <utility>

namespace Velmora::Assistant {

std::int32_t RunCheck(ICheckFix& handler, ConfigEntry* entries, std::size_t count, bool stopOnFailure)
{
    const std::int32_t begin = handler.BeginCheck();
    if (begin != kResultPassed)
        return begin;
    for (std::size_t i = 0; i < count; ++i)
        entries[i].State = kResultNotRun;

    bool mismatch = false;
    std::int32_t failure = kResultPassed;
    for (std::size_t i = 0; i < count; ++i) {
        const std::int32_t r = handler.CheckEntry(entries[i]);
        entries[i].State = r;
        if (r == kResultMismatch) {
            mismatch = true;
        } else if (r != kResultPassed) {
            if (stopOnFailure)
                return r;
            failure = r;
        }
    }
    if (failure != kResultPassed)
        return failure;

    const std::int32_t end = handler.EndCheck();
    if (end != kResultPassed)
        return end;
    return mismatch ? kResultMismatch : kResultPassed;
}

std::int32_t RunFix(ICheckFix& handler, ConfigEntry* entries, std::size_t count)
{
    const std::int32_t begin = handler.BeginFix();
    if (begin != kResultPassed)
        return begin;
    for (std::size_t i = 0; i < count; ++i) {
        if (entries[i].State == kResultPassed)
            continue;
        const std::int32_t r = handler.FixEntry(entries[i]);
        entries[i].State = r;
        if (r != kResultPassed)
            return r;
    }
    return handler.EndFix();
}

struct HandlerRegistry::Impl {
    Impl(const Row* r, std::size_t n) : rows(r), count(n) {}
    const Row* rows;
    std::size_t count;
    std::once_flag filled;
    std::vector<std::pair<std::string, std::unique_ptr<ICheckFix>>> handlers;
};

HandlerRegistry::HandlerRegistry(const Row* rows, std::size_t count)
    : impl_(std::make_unique<Impl>(rows, count))
{
}

HandlerRegistry::~HandlerRegistry() = default;

ICheckFix* HandlerRegistry::Find(std::string_view type)
{
    std::call_once(impl_->filled, [this] {
        for (std::size_t i = 0; i < impl_->count; ++i) {
            const Row& row = impl_->rows[i];
            if (row.make)
                impl_->handlers.emplace_back(row.type, row.make());
        }
    });
    for (auto& [name, handler] : impl_->handlers) {
        if (name == type)
            return handler.get();
    }
    return nullptr;
}

} // namespace Velmora::Assistant

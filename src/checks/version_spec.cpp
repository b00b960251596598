#include "checks/version_spec.h"

#include <array>

namespace Velmora::Assistant {
namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

VersionSpec ParseVersionSpec(std::string_view text)
{
    VersionSpec spec;
    std::size_t at = 0;
    if (at < text.size() && text[at] == '=') {
        ++at;
    } else if (at < text.size() && (text[at] == '>' || text[at] == '<')) {
        const bool newer = text[at] == '>';
        ++at;
        const bool orEqual = at < text.size() && text[at] == '=';
        if (orEqual)
            ++at;
        if (newer)
            spec.op = orEqual ? VersionOperator::NewerOrEqual : VersionOperator::Newer;
        else
            spec.op = orEqual ? VersionOperator::OlderOrEqual : VersionOperator::Older;
    }
    while (at < text.size() && !IsDigit(text[at]))
        ++at;

    std::array<std::uint32_t, 4> parts = {};
    for (std::size_t part = 0; part < parts.size() && at < text.size() && IsDigit(text[at]); ++part) {
        std::uint32_t value = 0;
        // Only the low 16 bits are kept, so wrapping on absurdly long numbers changes nothing.
        while (at < text.size() && IsDigit(text[at])) {
            value = value * 10u + static_cast<std::uint32_t>(text[at] - '0');
            ++at;
        }
        parts[part] = value & 0xFFFFu;
        if (at < text.size() && text[at] == '.')
            ++at;
        else
            break;
    }
    spec.ms = (parts[0] << 16) | parts[1];
    spec.ls = (parts[2] << 16) | parts[3];
    return spec;
}

bool VersionSatisfies(const VersionSpec& spec, std::uint32_t ms, std::uint32_t ls)
{
    const std::uint64_t have = (static_cast<std::uint64_t>(ms) << 32) | ls;
    const std::uint64_t want = (static_cast<std::uint64_t>(spec.ms) << 32) | spec.ls;
    switch (spec.op) {
    case VersionOperator::Equal:
        return have == want;
    case VersionOperator::Newer:
        return have > want;
    case VersionOperator::NewerOrEqual:
        return have >= want;
    case VersionOperator::Older:
        return have < want;
    case VersionOperator::OlderOrEqual:
        return have <= want;
    }
    return false;
}

} // namespace Velmora::Assistant

#pragma once
// The `version` attribute of file entries: an optional comparison operator and up to four dotted
// numbers, packed like the two version words of a file's version resource.

#include <cstdint>
#include <string_view>

namespace Velmora::Assistant {

enum class VersionOperator { Equal, Newer, NewerOrEqual, Older, OlderOrEqual };

struct VersionSpec {
    VersionOperator op = VersionOperator::Equal;
    std::uint32_t ms = 0; // (part1 << 16) | part2, each part cut to 16 bits
    std::uint32_t ls = 0; // (part3 << 16) | part4
};

VersionSpec ParseVersionSpec(std::string_view text);

// Whether a file whose version words are `ms`.`ls` satisfies the version condition.
bool VersionSatisfies(const VersionSpec& spec, std::uint32_t ms, std::uint32_t ls);

} // namespace Velmora::Assistant

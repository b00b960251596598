#pragma once
// The browser's compatibility-view site list ("UserFilter", REG_BINARY): a 24-byte header and one
// record per domain, all numbers little-endian, domains in UTF-16 without terminator. Reading is
// tolerant (records that do not fit are ignored); extending is strict, so that a list this code
// does not fully understand is never rewritten into a shorter valid-looking one.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Velmora::Assistant {

inline constexpr std::uint32_t kUserFilterMagic = 0x00001F41;
inline constexpr std::uint32_t kUserFilterVersion = 0xBAAD0853;
inline constexpr std::size_t kUserFilterHeaderSize = 24;
// The file time of every record this program writes.
inline constexpr std::uint64_t kUserFilterFileTime = 0x01CE1A4800000000ull;

// The header of a list without records.
std::string EmptyUserFilter();

// The domains of the records that lie wholly inside `data`, at most as many as the header counts.
std::vector<std::u16string> UserFilterDomains(std::string_view data);

// True when some record's domain is a prefix of `domain`, ignoring ASCII letter case.
bool UserFilterContains(std::string_view data, std::u16string_view domain);

// True when the header is ours, both counters agree, every counted record fits and the records and
// the length field (the size less the first 12 bytes) account for every byte.
bool IsWellFormedUserFilter(std::string_view data);

// Appends a record for `domain` and updates both counters and the length field. False, with
// `data` unchanged, when the list is not well formed or the domain is longer than a record holds.
bool AppendUserFilter(std::string& data, std::u16string_view domain);

} // namespace Velmora::Assistant

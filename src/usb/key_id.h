#pragma once
// Key ids as the page writes them: hexadecimal text, one id or two joined by "|".

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace Velmora::Usb {

// Parsed like the C library's unsigned parse in base 16 with a 32-bit result: leading blanks
// skipped, an optional sign and "0x", digits up to the first non-hex character; no digits give 0,
// too many saturate to 0xFFFFFFFF.
std::uint32_t ParseKeyId(std::string_view text);

struct KeyIdQuery {
    std::uint32_t first = 0;
    std::optional<std::uint32_t> second; // the part before the first "|", when not empty
};

// "a|b": b is the first id and a the second; without "|" the whole text is the first.
KeyIdQuery ParseKeyIdQuery(std::string_view utf8);

// Tests the second id (when there is one), then the first, each with its own presence test.
bool AnyKeyPresent(const KeyIdQuery& query, const std::function<bool(std::uint32_t id)>& present);

} // namespace Velmora::Usb

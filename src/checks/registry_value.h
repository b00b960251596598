#pragma once
// The data of `registry` entries apart from the registry itself: numbers as the configuration
// writes them, the masked comparison and merge of 32-bit values, and binary data written as
// hexadecimal digit pairs.

#include <cstdint>
#include <string>
#include <string_view>

namespace Velmora::Assistant {

// A decimal number read like a C decimal conversion: leading white space, an optional sign, then
// digits up to the first other character, so "0x10", "" and "abc" all read as 0. The result is
// the number's 32-bit pattern: "-1" sets every bit and "4294967295" does too; numbers outside
// -2147483648..4294967295 stop at those ends.
std::uint32_t ReadDecimal32(std::string_view text);

// The `mask` attribute: absent (empty) selects all 32 bits.
std::uint32_t ReadMask(std::string_view text);

constexpr bool MaskedEqual(std::uint32_t stored, std::uint32_t wanted, std::uint32_t mask)
{
    return ((stored ^ wanted) & mask) == 0;
}

// What a repair writes: the wanted bits under the mask, the stored bits everywhere else.
constexpr std::uint32_t MergeMasked(std::uint32_t stored, std::uint32_t wanted, std::uint32_t mask)
{
    return (wanted & mask) | (stored & ~mask);
}

// Hexadecimal digit pairs to bytes, in either case. Decoding stops at the first character that is
// not a hexadecimal digit; a last digit without its partner is dropped.
std::string DecodeHexPairs(std::string_view text);

} // namespace Velmora::Assistant

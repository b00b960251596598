#include "checks/registry_value.h"

#include "common/hex_digit.h"

namespace Velmora::Assistant {
namespace {

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

} // namespace

std::uint32_t ReadDecimal32(std::string_view text)
{
    constexpr std::int64_t kLowest = -2147483648LL;
    constexpr std::int64_t kHighest = 4294967295LL;
    std::size_t at = 0;
    while (at < text.size() && IsSpace(text[at]))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) {
        negative = text[at] == '-';
        ++at;
    }
    std::int64_t magnitude = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        // Stops growing once past both ends, so long digit runs cannot overflow.
        if (magnitude <= kHighest)
            magnitude = magnitude * 10 + (text[at] - '0');
    }
    std::int64_t value = negative ? -magnitude : magnitude;
    if (value < kLowest)
        value = kLowest;
    if (value > kHighest)
        value = kHighest;
    return static_cast<std::uint32_t>(value);
}

std::uint32_t ReadMask(std::string_view text)
{
    return text.empty() ? 0xFFFFFFFFu : ReadDecimal32(text);
}

std::string DecodeHexPairs(std::string_view text)
{
    std::string bytes;
    bytes.reserve(text.size() / 2);
    for (std::size_t at = 0; at + 1 < text.size(); at += 2) {
        const int high = HexDigitValue(text[at]);
        const int low = HexDigitValue(text[at + 1]);
        if (high < 0 || low < 0)
            break;
        bytes.push_back(static_cast<char>((high << 4) | low));
    }
    return bytes;
}

} // namespace Velmora::Assistant

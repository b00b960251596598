#include "usb/key_id.h"

#include "common/hex_digit.h"

namespace Velmora::Usb {
namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace

std::uint32_t ParseKeyId(std::string_view text)
{
    std::size_t at = 0;
    while (at < text.size() && IsBlank(text[at]))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        negative = text[at++] == '-';
    if (at + 2 < text.size() && text[at] == '0' && (text[at + 1] == 'x' || text[at + 1] == 'X') &&
        HexDigitValue(text[at + 2]) >= 0)
        at += 2;
    std::uint64_t value = 0;
    bool overflow = false;
    for (; at < text.size() && HexDigitValue(text[at]) >= 0; ++at) {
        value = value * 16 + static_cast<unsigned>(HexDigitValue(text[at]));
        if (value > 0xFFFFFFFFu) {
            overflow = true;
            value = 0xFFFFFFFFu;
        }
    }
    if (overflow)
        return 0xFFFFFFFFu;
    const auto result = static_cast<std::uint32_t>(value);
    return negative ? static_cast<std::uint32_t>(0u - result) : result;
}

KeyIdQuery ParseKeyIdQuery(std::string_view utf8)
{
    KeyIdQuery query;
    const std::size_t bar = utf8.find('|');
    if (bar == std::string_view::npos) {
        query.first = ParseKeyId(utf8);
        return query;
    }
    query.first = ParseKeyId(utf8.substr(bar + 1));
    if (bar > 0)
        query.second = ParseKeyId(utf8.substr(0, bar));
    return query;
}

bool AnyKeyPresent(const KeyIdQuery& query, const std::function<bool(std::uint32_t id)>& present)
{
    const bool second = query.second && present(*query.second);
    const bool first = present(query.first);
    return second || first;
}

} // namespace Velmora::Usb

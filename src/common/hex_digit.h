#pragma once
// The value of one hexadecimal digit, for every reader of hexadecimal text (portable).

namespace Velmora {

// 0 to 15 for 0-9, a-f and A-F; -1 for any other character (narrow or wide).
template <typename Char> constexpr int HexDigitValue(Char c)
{
    if (c >= Char('0') && c <= Char('9'))
        return static_cast<int>(c - Char('0'));
    if (c >= Char('a') && c <= Char('f'))
        return static_cast<int>(c - Char('a')) + 10;
    if (c >= Char('A') && c <= Char('F'))
        return static_cast<int>(c - Char('A')) + 10;
    return -1;
}

} // namespace Velmora

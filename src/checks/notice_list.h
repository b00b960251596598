#pragma once
// The bank's notice file, read as data: a script whose whole text assigns an array of string
// literals, and nothing else.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Velmora::Assistant {

// Larger notice files are refused whole, so a hostile server cannot make the reader allocate
// without limit.
inline constexpr std::size_t kNoticeTextMaxBytes = 1024 * 1024;
inline constexpr std::size_t kNoticeListMaxCount = 1000;

// The notices of the bank's notice file: its whole text must be one assignment of an array of
// string literals to `window.notices` (or `notices`, or `var notices`), with optional semicolon,
// and nothing more than white space (space, tab, CR, LF, VT, FF), `//` and `/* */` comments
// between and around the tokens; an optional UTF-8 byte-order mark may open it. The array may be
// empty and may end with one comma. Literals take single or double quotes and the JavaScript
// escapes; `\u` escapes are read as UTF-16 units, so a surrogate pair makes one character and a lone
// surrogate becomes U+FFFD. Legacy octal escapes (`\1`, `\0` before a digit) are refused, as in
// strict-mode scripts.
//
// The text must be valid UTF-8 and at most kNoticeTextMaxBytes long, with at most
// kNoticeListMaxCount literals; the strings come out as UTF-8. Anything else gives none, including
// whatever a script engine would read differently: a line separator that ends a `//` comment is not
// taken as white space after it. Runs in time linear in the text.
std::optional<std::vector<std::string>> ParseNoticeList(std::string_view text);

} // namespace Velmora::Assistant

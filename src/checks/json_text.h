#pragma once
// JSON string content from UTF-8 text, shared by the engine's answers and the reports.

#include <cstddef>
#include <string>
#include <string_view>

namespace Velmora::Assistant {

// One character of `text` at `pos` as JSON string content; `*length` is how many bytes it took. A
// whole UTF-8 sequence stays together, so text can be cut between pieces without breaking one.
std::string JsonPiece(std::string_view text, std::size_t pos, std::size_t* length);

// `text` as a quoted JSON string.
std::string JsonQuoted(std::string_view text);

} // namespace Velmora::Assistant

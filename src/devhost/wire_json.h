#pragma once
// JSON as the developer host's wire carries it between the page and the native side: read strictly
// (what JSON.parse accepts, strings in valid UTF-8, nesting bounded) and written compactly.

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace Velmora::DevHost {

using Json = nlohmann::json;

// Arrays and objects nested deeper than this are refused.
inline constexpr int kMaxJsonDepth = 64;

// The value of `text`, or none when it is not exactly one JSON value (whitespace around it allowed).
// A later duplicate member wins.
std::optional<Json> ParseWireJson(std::string_view text);

// Compact JSON text of `value`, members in name order. A string that is not valid UTF-8 has each bad
// byte written as U+FFFD; a number that is not finite is written as null (JSON has no such number).
std::string WireJsonText(const Json& value);

// Member `name` of an object; none when absent or when `value` is no object.
const Json* Member(const Json& value, const char* name);
// Text of member `name` when it is a string, else empty.
std::string TextOf(const Json& value, const char* name);

} // namespace Velmora::DevHost

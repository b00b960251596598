#include "checks/json_text.h"

#include <cstdio>

namespace Velmora::Assistant {

std::string JsonPiece(std::string_view text, std::size_t pos, std::size_t* length)
{
    const auto byte = static_cast<unsigned char>(text[pos]);
    *length = 1;
    if (byte == '"' || byte == '\\')
        return std::string{'\\', static_cast<char>(byte)};
    if (byte < 0x20) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
        return escaped;
    }
    if (byte >= 0x80) {
        while (pos + *length < text.size() &&
               (static_cast<unsigned char>(text[pos + *length]) & 0xC0) == 0x80)
            ++*length;
    }
    return std::string(text.substr(pos, *length));
}

std::string JsonQuoted(std::string_view text)
{
    std::string out = "\"";
    for (std::size_t pos = 0; pos < text.size();) {
        std::size_t length = 0;
        out += JsonPiece(text, pos, &length);
        pos += length;
    }
    out += '"';
    return out;
}

} // namespace Velmora::Assistant
